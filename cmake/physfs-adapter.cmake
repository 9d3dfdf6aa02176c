# The PhysicsFS adapter (libzelkor-physfs): the archiver of zelkor_physfs.h
# over the reader library's C interface, a library of its own so that a game
# that does not use PhysicsFS does not link it. Built where PhysicsFS is found
# (Debian's libphysfs-dev; scripts/bootstrap installs it); not for Windows,
# where no PhysicsFS for the cross compiler is at hand.
if(WIN32)
  return()
endif()
pkg_check_modules(PHYSFS IMPORTED_TARGET physfs)
if(NOT PHYSFS_FOUND)
  message(STATUS "PhysicsFS not found: the PhysicsFS adapter is not built")
  return()
endif()

set(ZELKOR_PHYSFS_VERSION 1.0.0)
set(ZELKOR_PHYSFS_SOVERSION 1)

file(GLOB ZELKOR_PHYSFS_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/physfs/*.cpp)
add_library(zelkor_physfs_objects OBJECT ${ZELKOR_PHYSFS_SOURCES})
target_include_directories(zelkor_physfs_objects PUBLIC ${CMAKE_SOURCE_DIR}/include PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(zelkor_physfs_objects PRIVATE ZLK_PHYSFS_BUILDING_LIBRARY)
target_link_libraries(zelkor_physfs_objects PUBLIC PkgConfig::PHYSFS)
set_target_properties(zelkor_physfs_objects PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden
                                                       VISIBILITY_INLINES_HIDDEN ON)

add_library(zelkor-physfs SHARED $<TARGET_OBJECTS:zelkor_physfs_objects>)
target_include_directories(zelkor-physfs PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>)
target_link_libraries(zelkor-physfs PUBLIC zelkor-reader PkgConfig::PHYSFS)
set_target_properties(zelkor-physfs PROPERTIES
  VERSION ${ZELKOR_PHYSFS_VERSION} SOVERSION ${ZELKOR_PHYSFS_SOVERSION}
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_options(zelkor-physfs PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/src/physfs/zelkor-physfs.map)
if(NOT ZELKOR_SANITIZE_FLAGS)
  target_link_options(zelkor-physfs PRIVATE -Wl,--no-undefined)
endif()
set_property(TARGET zelkor-physfs APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/src/physfs/zelkor-physfs.map)

# The static library holds the adapter alone: a program links it with the
# reader library (either kind) and PhysicsFS.
add_library(zelkor-physfs-static STATIC $<TARGET_OBJECTS:zelkor_physfs_objects>)
set_target_properties(zelkor-physfs-static PROPERTIES OUTPUT_NAME zelkor-physfs
                                                      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Components of their own (physfs, physfs-dev), so that a package of the reader
# library does not depend on PhysicsFS.
include(GNUInstallDirs)
install(FILES ${CMAKE_SOURCE_DIR}/include/zelkor/zelkor_physfs.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelkor
        COMPONENT physfs-dev)
install(TARGETS zelkor-physfs
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT physfs NAMELINK_COMPONENT physfs-dev)
install(TARGETS zelkor-physfs-static ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT physfs-dev)
configure_file(${CMAKE_SOURCE_DIR}/cmake/zelkor-physfs.pc.in ${CMAKE_BINARY_DIR}/zelkor-physfs.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zelkor-physfs.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT physfs-dev)
