# An optimised build when none is asked for, with single-configuration generators (Makefiles,
# Ninja); multi-configuration generators choose per build.
get_property(impx_multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
if(NOT impx_multi_config AND NOT CMAKE_BUILD_TYPE)
  message(STATUS "No build type given: building Release")
  set(CMAKE_BUILD_TYPE Release CACHE STRING "Debug, Release, RelWithDebInfo or MinSizeRel" FORCE)
endif()
