lb_add_test(NAME quillan_settings_test
  SOURCES settings_test.cpp descriptor_test.cpp read_data_names_test.cpp
  LIBS quillan_core find_xml_text)

add_test(NAME quillan_exported_symbols
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/exported_symbols.sh $<TARGET_FILE:quillan>)
set_tests_properties(quillan_exported_symbols PROPERTIES LABELS unit)

if(TARGET scanner_sim)
  include(abi.cmake)
endif()

lb_add_test(NAME quillan_xml_exchange_test THREADS
  SOURCES xml_exchange_test.cpp
  LIBS quillan_core)
