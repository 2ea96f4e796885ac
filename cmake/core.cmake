# The core library, its C++ package, and the tests, benchmarks and examples built on it.
find_package(Threads REQUIRED)
find_package(Eigen3 3.3 REQUIRED NO_MODULE)
find_package(SQLite3 REQUIRED)
find_package(PostgreSQL REQUIRED)
# CMake 4 renamed the SQLite target; older CMake has only the first name.
if(TARGET SQLite3::SQLite3)
  set(TARVEX_SQLITE_TARGET SQLite3::SQLite3)
else()
  set(TARVEX_SQLITE_TARGET SQLite::SQLite3)
endif()

# Samplers and pruners are found by directory: a new one is its header and its source, and no
# list to extend.
file(GLOB TARVEX_SAMPLER_SOURCES CONFIGURE_DEPENDS src/samplers/*.cpp src/pruners/*.cpp)
add_library(tarvex STATIC
  ${TARVEX_SAMPLER_SOURCES}
  src/core/trial.cpp
  src/core/study.cpp
  src/core/suggest.cpp
  src/core/optimize.cpp
  src/core/ask_tell.cpp
  src/core/results.cpp
  src/moo/hypervolume.cpp
  src/storage/in_memory_storage.cpp
  src/storage/trial_cache.cpp
  src/storage/sql_connection.cpp
  src/storage/sqlite_connection.cpp
  src/storage/postgres_connection.cpp
  src/storage/postgres_values.cpp
  src/storage/storage_url.cpp
  src/storage/distribution_text.cpp
  src/storage/schema.cpp
  src/storage/trial_rows.cpp
  src/storage/heartbeat.cpp
  src/storage/database_storage.cpp
  src/storage/study_attrs.cpp
  src/storage/running_trials.cpp
  src/storage/trial_reads.cpp
  src/storage/study_storage.cpp
  src/gp/kernels.cpp
  src/gp/gaussian_process.cpp
  src/gp/kernel_fit.cpp
  src/gp/quadratic_mean.cpp
  src/opt/lbfgs.cpp
  src/gp/acquisition.cpp
  src/gp/acquisition_optimiser.cpp
)
add_library(tarvex::tarvex ALIAS tarvex)
target_include_directories(tarvex PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                         $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_link_libraries(tarvex PUBLIC Eigen3::Eigen Threads::Threads
                             PRIVATE ${TARVEX_SQLITE_TARGET} PostgreSQL::PostgreSQL $<BUILD_INTERFACE:tarvex_warnings>)
target_compile_features(tarvex PUBLIC cxx_std_20)

# Flags that change the ABI travel with the target, so whatever links it agrees with it. Eigen
# types cross the public headers and their alignment follows the SIMD level a file is compiled
# for; pinning it to 32 bytes makes SSE, AVX and AVX-512 code agree whatever flags a consumer uses.
target_compile_definitions(tarvex PUBLIC EIGEN_MAX_ALIGN_BYTES=32)
if(TARVEX_NATIVE)
  include(CheckCXXCompilerFlag)
  # Eigen's AVX-512 paths trip GCC 12's uninitialised-use warnings and are no faster here.
  check_cxx_compiler_flag("-march=native -mno-avx512f" TARVEX_HAS_NATIVE_NO_AVX512)
  check_cxx_compiler_flag(-march=native TARVEX_HAS_NATIVE)
  if(TARVEX_HAS_NATIVE_NO_AVX512)
    target_compile_options(tarvex PUBLIC -march=native -mno-avx512f)
  elseif(TARVEX_HAS_NATIVE)
    target_compile_options(tarvex PUBLIC -march=native)
  endif()
endif()
if(TARVEX_SANITIZE)
  target_compile_options(tarvex PUBLIC -fsanitize=${TARVEX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(tarvex PUBLIC -fsanitize=${TARVEX_SANITIZE})
endif()
if(TARVEX_FUZZ)
  # Coverage inside the library, so that libFuzzer steers by the core's branches, not the target's.
  target_compile_options(tarvex PRIVATE -fsanitize=fuzzer-no-link)
endif()

# The C++ package: find_package(tarvex) gives tarvex::tarvex. The Python wheel carries only the module.
if(NOT SKBUILD)
  include(CMakePackageConfigHelpers)
  set(TARVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarvex)
  install(TARGETS tarvex EXPORT tarvexTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY include/tarvex DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT tarvexTargets NAMESPACE tarvex:: DESTINATION ${TARVEX_CMAKE_DIR})
  configure_package_config_file(cmake/tarvexConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/tarvexConfig.cmake
                                INSTALL_DESTINATION ${TARVEX_CMAKE_DIR})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tarvexConfigVersion.cmake
                                   COMPATIBILITY SameMinorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvexConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/tarvexConfigVersion.cmake
          DESTINATION ${TARVEX_CMAKE_DIR})
endif()

if(TARVEX_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/cpp)
  add_subdirectory(tests/fuzz)
endif()

if(TARVEX_BUILD_BENCH)
  add_subdirectory(bench)
endif()

if(TARVEX_BUILD_EXAMPLES)
  add_executable(random_search examples/random_search.cpp)
  target_link_libraries(random_search PRIVATE tarvex tarvex_warnings)
  add_executable(shared_study examples/shared_study.cpp)
  target_link_libraries(shared_study PRIVATE tarvex tarvex_warnings)
  if(TARVEX_BUILD_TESTS)
    # Examples run with the tests so they never rot.
    add_test(NAME example_random_search COMMAND random_search)
    set_tests_properties(example_random_search PROPERTIES PASS_REGULAR_EXPRESSION "best trial")
    # Run twice on one database: the second run continues the study of the first.
    add_test(NAME example_shared_study COMMAND sh -c
             "rm -f shared_study.db* && $<TARGET_FILE:shared_study> sqlite:///shared_study.db 12 && $<TARGET_FILE:shared_study> sqlite:///shared_study.db 12")
    set_tests_properties(example_shared_study PROPERTIES PASS_REGULAR_EXPRESSION "'branin': 24 trials")
  endif()
endif()

