# In-process collaborators for the setup application's model, shared by the tests and the benchmarks
# (included from both, defined once).
include_guard(GLOBAL)
add_library(TarnwickAppStandIns STATIC
  ${CMAKE_CURRENT_LIST_DIR}/AppStandIns.cpp ${CMAKE_CURRENT_LIST_DIR}/AppStandIns.h
  ${CMAKE_CURRENT_LIST_DIR}/ManualClock.h
  ${CMAKE_CURRENT_LIST_DIR}/MemoryConfigStore.h
  ${CMAKE_CURRENT_LIST_DIR}/MemoryCredentialStore.h
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedFolderChooser.h
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedLoginItem.h
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedNetworkMonitor.h
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedSignIn.h
  ${CMAKE_CURRENT_LIST_DIR}/SetupFixtures.h)
target_include_directories(TarnwickAppStandIns PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(TarnwickAppStandIns PUBLIC TarnwickAppLib)
