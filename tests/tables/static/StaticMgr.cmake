vyr_add_test(test_static_mgr
    ${CMAKE_CURRENT_LIST_DIR}/StaticMgrRandomTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StaticMgrTest.cpp
)
target_link_libraries(test_static_mgr PRIVATE VyrNat VyrTestSupport)
