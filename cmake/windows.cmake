# What the Windows build takes in place of the system's libraries: SQLite compiled from the
# amalgamation that scripts/fetch-sqlite-source.sh builds from Debian's source package, and
# GoogleTest compiled from Debian's sources.
set(KAP_SQLITE_DIR ${CMAKE_SOURCE_DIR}/build/sqlite CACHE PATH
    "Folder holding SQLite's amalgamation (sqlite3.c, sqlite3.h)")
if(NOT EXISTS ${KAP_SQLITE_DIR}/sqlite3.c)
  message(FATAL_ERROR "No SQLite amalgamation in ${KAP_SQLITE_DIR}: run scripts/fetch-sqlite-source.sh")
endif()
add_library(kap_sqlite3 STATIC ${KAP_SQLITE_DIR}/sqlite3.c)
target_include_directories(kap_sqlite3 SYSTEM PUBLIC ${KAP_SQLITE_DIR})
target_compile_definitions(kap_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
target_compile_options(kap_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS kap_sqlite3)

# No ncursesw on Windows: the console is the Win32 one.
add_library(kap_no_curses INTERFACE)
add_library(PkgConfig::NCURSESW ALIAS kap_no_curses)

# Windows' own libraries the platform layer calls.
set(KAP_WINDOWS_LIBS kernel32 user32)

if(KAP_TESTS)
  set(KAP_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's libgtest-dev)")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  # Defines GTest::gtest and GTest::gtest_main as the installed package does.
  add_subdirectory(${KAP_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# Tests left out of the Windows build: they fork child processes, run programs through POSIX
# process calls, or decode or drive the POSIX terminal (curses, tmux).
set(KAP_SKIPPED_TESTS
  app/tests/cycle_test.cpp app/tests/e2e_test.cpp
  data/tests/data_tool_test.cpp format/tests/kaptool_format_test.cpp
  locking/tests/kaptool_lock_test.cpp
  platform/tests/console_keys_test.cpp platform/tests/console_terminal_test.cpp
  platform/tests/os_files_test.cpp
  popups/tests/popups_e2e_test.cpp
  platform/tests/record_manager_server_test.cpp app/tests/two_computers_test.cpp
  app/tests/two_users_test.cpp app/tests/removal_kill_test.cpp
  taxid/tests/kaptool_taxid_test.cpp tools/tests/session_commands_test.cpp
  tools/tests/server_commands_test.cpp)
