# Internals as a static library (tests link it); the shared library adds the exported functions.
add_library(quillan_core STATIC
  src/cquillan.cpp
  src/debug_log.cpp
  src/debug_options.cpp
  src/fifo_readers.cpp
  src/fifo_size_setting.cpp
  src/get_info.cpp
  src/info_strings.cpp
  src/handle_table.cpp
  src/local_command.cpp
  src/quillan_dll.cpp
  src/read_data.cpp
  src/read_data_names.cpp
  src/send_command.cpp
  src/tcp_client.cpp
  src/xml_exchange.cpp)
target_link_libraries(quillan_core PUBLIC quillan_internal quillan_headers)
target_link_libraries(quillan_core PUBLIC platform Threads::Threads PkgConfig::TINYXML2)
foreach(sub quillan_lin quillan_stream)
  if(TARGET ${sub})
    target_link_libraries(quillan_core PUBLIC ${sub})
  endif()
endforeach()
target_link_libraries(quillan_core PRIVATE find_xml_text)

add_library(quillan SHARED src/exports.cpp)
target_link_libraries(quillan PRIVATE quillan_core)
target_link_libraries(quillan PUBLIC quillan_headers)
target_link_options(quillan PRIVATE -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/exports.map -Wl,--no-undefined)
set_target_properties(quillan PROPERTIES LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/exports.map)
