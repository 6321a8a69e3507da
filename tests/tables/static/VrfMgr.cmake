vyr_add_test(test_vrf_mgr ${CMAKE_CURRENT_LIST_DIR}/VrfMgrTest.cpp)
target_link_libraries(test_vrf_mgr PRIVATE VyrNat VyrTestSupport)
