# Host-program view: links the shared library only, plus the simulator.
lb_add_test(NAME quillan_abi_test THREADS
  SOURCES abi_test.cpp
  LIBS quillan scanner_sim)

# Uses the internal host-directory hook, so it links the internals rather than the shared library.
lb_add_test(NAME quillan_debug_files_test THREADS
  SOURCES debug_files_test.cpp
  LIBS quillan_core scanner_sim)

lb_add_test(NAME quillan_dll_object_test THREADS
  SOURCES dll_object_test.cpp
  LIBS quillan_core scanner_sim)

lb_add_test(NAME quillan_linearization_abi_test THREADS
  SOURCES linearization_abi_test.cpp
  LIBS quillan scanner_sim)
target_include_directories(quillan_linearization_abi_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

lb_add_test(NAME quillan_protocol_abi_test THREADS
  SOURCES protocol_abi_test.cpp
  LIBS quillan scanner_sim)

lb_add_test(NAME quillan_profile_abi_test THREADS
  SOURCES profile_abi_test.cpp
  LIBS quillan scanner_sim)
