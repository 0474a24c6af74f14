# In-process collaborators for the setup application's model, shared by the tests and the benchmarks
# (included from both, defined once).
include_guard(GLOBAL)
add_library(TarnwickAppStandIns STATIC ${CMAKE_CURRENT_LIST_DIR}/AppStandIns.cpp)
target_include_directories(TarnwickAppStandIns PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(TarnwickAppStandIns PUBLIC TarnwickAppLib)
