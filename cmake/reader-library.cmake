# The reader library that games link: libzelkor-reader, shared and static, with
# the C interface of include/zelkor/zelkor.h and nothing else exported. It is
# made of the C layer (src/library) over the reader layer (zelkor_reader,
# zelkor_format, zelkor_output, zelkor_platform), and links only what reading needs: LZ4,
# xxHash and Crypto++ for AES.
set(ZELKOR_READER_VERSION 1.1.0)
set(ZELKOR_READER_SOVERSION 1)

file(GLOB ZELKOR_LIBRARY_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/library/*.cpp)
add_library(zelkor_library OBJECT ${ZELKOR_LIBRARY_SOURCES})
target_include_directories(zelkor_library PUBLIC ${CMAKE_SOURCE_DIR}/include)
target_compile_definitions(zelkor_library PRIVATE ZLK_BUILDING_LIBRARY)
target_link_libraries(zelkor_library PUBLIC zelkor_reader)
set_target_properties(zelkor_library PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden
                                                VISIBILITY_INLINES_HIDDEN ON)

add_library(zelkor-reader SHARED $<TARGET_OBJECTS:zelkor_library>)
target_include_directories(zelkor-reader PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>)
target_link_libraries(zelkor-reader PRIVATE zelkor_reader)
set_target_properties(zelkor-reader PROPERTIES
  VERSION ${ZELKOR_READER_VERSION} SOVERSION ${ZELKOR_READER_SOVERSION}
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
if(WIN32)
  # A DLL that needs no runtime DLL of the compiler's.
  target_link_options(zelkor-reader PRIVATE -static-libgcc -static-libstdc++ -static)
else()
  target_link_options(zelkor-reader PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/src/library/zelkor-reader.map)
  # Every symbol resolved at link time, but in sanitized builds, whose runtime
  # the executable brings.
  if(NOT ZELKOR_SANITIZER)
    target_link_options(zelkor-reader PRIVATE -Wl,--no-undefined)
  endif()
  set_property(TARGET zelkor-reader APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/src/library/zelkor-reader.map)
endif()

# The static library holds every object reading needs, so that a program
# links it with LZ4, xxHash, Crypto++ and the C++ runtime alone: the C layer's
# objects and the three layer libraries, merged into one archive.
add_library(zelkor_library_static STATIC $<TARGET_OBJECTS:zelkor_library>)
set(ZELKOR_READER_STATIC ${CMAKE_BINARY_DIR}/libzelkor-reader.a)
add_custom_command(
  OUTPUT ${ZELKOR_READER_STATIC}
  COMMAND ${CMAKE_COMMAND} -DAR=${CMAKE_AR} -DRANLIB=${CMAKE_RANLIB} -DOUTPUT=${ZELKOR_READER_STATIC}
          "-DINPUTS=$<TARGET_FILE:zelkor_library_static>|$<TARGET_FILE:zelkor_reader>|$<TARGET_FILE:zelkor_format>|$<TARGET_FILE:zelkor_output>|$<TARGET_FILE:zelkor_platform>"
          -P ${CMAKE_SOURCE_DIR}/cmake/merge-archives.cmake
  DEPENDS zelkor_library_static zelkor_reader zelkor_format zelkor_output zelkor_platform ${CMAKE_SOURCE_DIR}/cmake/merge-archives.cmake
  COMMENT "Merging the reader library's static archive" VERBATIM)
add_custom_target(zelkor-reader-static ALL DEPENDS ${ZELKOR_READER_STATIC})

# Installation: the header, both libraries, a pkg-config file and a CMake
# package (find_package(Zelkor CONFIG) gives Zelkor::reader and
# Zelkor::reader_static). Paths in both are relative to where they are
# installed, so a staged or moved installation works as it is.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
install(FILES ${CMAKE_SOURCE_DIR}/include/zelkor/zelkor.h ${CMAKE_SOURCE_DIR}/include/zelkor/zelkor.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelkor
        COMPONENT reader-dev)
install(TARGETS zelkor-reader
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT reader NAMELINK_COMPONENT reader-dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT reader
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT reader-dev)
install(FILES ${ZELKOR_READER_STATIC} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT reader-dev)
install(FILES ${CMAKE_SOURCE_DIR}/docs/library.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zelkor
        COMPONENT reader-dev)

# What a program that links the static library links besides, in link order:
# the libraries as this build found them (Crypto++ is crypto++ on both
# systems; Windows adds the system libraries that the platform layer calls),
# then the C++ runtime, so that a program written in C alone links it too. The
# pkg-config file lists them itself rather than requiring the libraries'
# modules, which pkg-config would put after the C++ runtime, too late for a
# static link.
set(ZELKOR_STATIC_LINK_LIBRARIES ${LZ4_LIBRARIES} ${XXHASH_LIBRARIES} ${CRYPTOPP_LIBRARIES})
if(WIN32)
  list(APPEND ZELKOR_STATIC_LINK_LIBRARIES bcrypt shell32 ntdll advapi32)
endif()
list(REMOVE_DUPLICATES ZELKOR_STATIC_LINK_LIBRARIES)
list(APPEND ZELKOR_STATIC_LINK_LIBRARIES stdc++ m)
list(TRANSFORM ZELKOR_STATIC_LINK_LIBRARIES PREPEND -l OUTPUT_VARIABLE ZELKOR_PC_PRIVATE_LIBRARIES)
list(JOIN ZELKOR_PC_PRIVATE_LIBRARIES " " ZELKOR_PC_PRIVATE_LIBRARIES)

file(RELATIVE_PATH ZELKOR_PC_PREFIX_FROM_PCDIR
     /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(${CMAKE_SOURCE_DIR}/cmake/zelkor-reader.pc.in ${CMAKE_BINARY_DIR}/zelkor-reader.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zelkor-reader.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT reader-dev)

set(ZELKOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zelkor)
file(RELATIVE_PATH ZELKOR_PREFIX_FROM_CMAKEDIR /${ZELKOR_CMAKE_DIR} /)
if(WIN32)
  set(ZELKOR_SHARED_FILE ${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:zelkor-reader>)
else()
  set(ZELKOR_SHARED_FILE ${CMAKE_INSTALL_LIBDIR}/libzelkor-reader.so.${ZELKOR_READER_SOVERSION})
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/ZelkorConfig.cmake.in ${CMAKE_BINARY_DIR}/ZelkorConfig.cmake.configured @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/ZelkorConfig.cmake INPUT ${CMAKE_BINARY_DIR}/ZelkorConfig.cmake.configured)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ZelkorConfigVersion.cmake
                                 VERSION ${ZELKOR_READER_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ZelkorConfig.cmake ${CMAKE_BINARY_DIR}/ZelkorConfigVersion.cmake
        DESTINATION ${ZELKOR_CMAKE_DIR} COMPONENT reader-dev)
