vyr_add_test(test_egress_static_mgr
    ${CMAKE_CURRENT_LIST_DIR}/EgressStaticMgrRandomTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EgressStaticMgrTest.cpp
)
target_link_libraries(test_egress_static_mgr PRIVATE VyrNat VyrTestSupport)
