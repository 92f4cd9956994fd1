# The adapter engine, the PLCDRV library and its status window, end to end
# over pseudo-terminals against libmodbus and pymodbus slaves. Included from
# this folder's CMakeLists.txt.

add_library(plcdrv_test_peers STATIC
  pty_peer.h pty_peer.cpp
  driver_harness.h driver_harness.cpp
)
target_include_directories(plcdrv_test_peers PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(plcdrv_test_peers PUBLIC plcdrv_interface chronel_platform Qt6::Core PkgConfig::LIBMODBUS
  Threads::Threads)

add_executable(plcdrv_engine_test engine_test.cpp)
target_link_libraries(plcdrv_engine_test PRIVATE plcdrv_engine plcdrv_test_peers chronel_test_main)
target_compile_definitions(plcdrv_engine_test PRIVATE
  ASCII_SLAVE_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/ascii_slave.py")
chronel_gtest(plcdrv_engine_test peer DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 90)

# libPLCDRV.so through its C entry points, loaded and unloaded by the tests.
add_executable(plcdrv_exports_test exports_test.cpp)
target_link_libraries(plcdrv_exports_test PRIVATE plcdrv_test_peers chronel_test_main ${CMAKE_DL_LIBS})
target_compile_definitions(plcdrv_exports_test PRIVATE PLCDRV_LIBRARY_PATH="$<TARGET_FILE:PLCDRV>")
add_dependencies(plcdrv_exports_test PLCDRV)
chronel_gtest(plcdrv_exports_test peer DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)

# Modbus Plus adapters through mpbridge and the stand-in MBX driver.
add_executable(plcdrv_engine_mbx_test engine_mbx_test.cpp)
target_link_libraries(plcdrv_engine_mbx_test PRIVATE plcdrv_engine plcdrv_test_peers chronel_test_modbus chronel_test_main)
add_dependencies(plcdrv_engine_mbx_test mbxsim)
chronel_gtest(plcdrv_engine_mbx_test peer DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "LD_LIBRARY_PATH=${CMAKE_BINARY_DIR}/lib/mbxsim" TIMEOUT 60)

# The status window, on a widget application.
add_executable(plcdrv_status_window_test status_window_test.cpp)
target_link_libraries(plcdrv_status_window_test PRIVATE plcdrv_engine plcdrv_widgets plcdrv_test_peers Qt6::Widgets GTest::gtest)
target_link_libraries(plcdrv_status_window_test PRIVATE chronel_gui_test_main)
chronel_gtest(plcdrv_status_window_test gui DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 60)

# The configurator's upload and download through PLCTAG and libPLCDRV.so over
# a serial RTU adapter to chronel-sim.
add_executable(plcdrv_whole_stack_test whole_stack_test.cpp)
target_link_libraries(plcdrv_whole_stack_test PRIVATE chronel_core plcdrv_test_peers chronel_test_support
  chronel_test_main PkgConfig::LIBMODBUS)
add_dependencies(plcdrv_whole_stack_test PLCDRV)
chronel_gtest(plcdrv_whole_stack_test peer DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
