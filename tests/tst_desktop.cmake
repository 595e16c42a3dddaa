# Runs twice: as registered with no session bus at all (the program must run on its
# own), and on a private session bus with nothing to start on demand, where a real
# client drives the player and stand-ins play the screen saver and the portal.
add_dependencies(tst_desktop zeltora)
if(TARGET Qt6::DBus)
  target_link_libraries(tst_desktop PRIVATE Qt6::DBus)
  target_compile_definitions(tst_desktop PRIVATE ZELTORA_HAVE_DBUS)
endif()
set_tests_properties(tst_desktop PROPERTIES LABELS "desktop"
  ENVIRONMENT_MODIFICATION "DBUS_SESSION_BUS_ADDRESS=unset:")

find_program(ZELTORA_DBUS_RUN_SESSION dbus-run-session)
if(ZELTORA_DBUS_RUN_SESSION AND TARGET Qt6::DBus)
  add_test(NAME tst_desktop_session
           COMMAND ${ZELTORA_DBUS_RUN_SESSION}
                   --config-file=${CMAKE_CURRENT_SOURCE_DIR}/desktop/session-bus.conf
                   -- $<TARGET_FILE:tst_desktop>)
  set(session_home ${CMAKE_BINARY_DIR}/test-home/tst_desktop_session)
  set_tests_properties(tst_desktop_session PROPERTIES
    FIXTURES_REQUIRED media
    TIMEOUT 300
    LABELS "desktop"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${session_home};XDG_CONFIG_HOME=${session_home}/.config;XDG_DATA_HOME=${session_home}/.local/share;XDG_CACHE_HOME=${session_home}/.cache;XDG_RUNTIME_DIR=${session_home}/runtime;QT_LOGGING_RULES=qt.qpa.*=false")
endif()
