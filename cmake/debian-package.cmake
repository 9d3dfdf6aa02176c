# The Debian packages that `make package` builds with CPack, one per installed
# component:
#   zelkor                 (tools)       the two programs, their manual pages, docs, completions
#   libzelkor-reader1      (reader)      the shared reader library, named after its SONAME
#   libzelkor-reader-dev   (reader-dev)  the header, the .so link, the static library, the
#                                        pkg-config file and the CMake package
# All three carry the project's version; the -dev package depends on the
# library package of exactly that version, and on the -dev packages of what
# the static library needs at link time.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools reader reader-dev)
set(CPACK_PACKAGE_NAME zelkor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zelkor developers <zelkor-dev@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# Each description's first line is its package's summary. (CPack would put a
# CPACK_PACKAGE_DESCRIPTION_SUMMARY in front of every package's description, so
# there is none.) Each is one string: separate quoted pieces would make a list,
# whose ";" separators would start the description's continuation lines.
string(CONCAT CPACK_DEBIAN_TOOLS_DESCRIPTION
    "packs game and application files into encrypted archives\n"
    "Zelkor packs the files of a game or application into archives from a build pipeline: XML\n"
    "scripts say what to pack; every file is hashed, compressed with LZ4 when that pays, encrypted\n"
    "with AES-256-CFB and appended to an archive, optionally with a key file that holds half of the\n"
    "key material and the names. zelkor-inspect lists, verifies, compares and extracts archives.")
string(CONCAT CPACK_DEBIAN_READER_DESCRIPTION
    "reads Zelkor archives from a game or an engine\n"
    "libzelkor-reader opens Zelkor archives (with their key files) from paths or from the\n"
    "caller's own I/O, finds entries by path and reads them back, decrypted, decoded and checked,\n"
    "into the caller's memory, from any number of threads at once. This package holds the shared\n"
    "library.")
string(CONCAT CPACK_DEBIAN_READER-DEV_DESCRIPTION
    "reads Zelkor archives from a game or an engine (development files)\n"
    "libzelkor-reader opens Zelkor archives (with their key files) from paths or from the\n"
    "caller's own I/O, finds entries by path and reads them back, decrypted, decoded and checked,\n"
    "into the caller's memory, from any number of threads at once. This package holds the C\n"
    "header zelkor/zelkor.h, the static library, the pkg-config file zelkor-reader.pc, the CMake\n"
    "package (find_package(Zelkor CONFIG): Zelkor::reader, Zelkor::reader_static) and the\n"
    "library's documentation.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zelkor)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SUGGESTS bash-completion)

set(CPACK_DEBIAN_READER_PACKAGE_NAME libzelkor-reader${ZELKOR_READER_SOVERSION})
set(CPACK_DEBIAN_READER_PACKAGE_SECTION libs)
# A shlibs file for every package with a shared library (this one alone), so
# that programs linked against it get a dependency on this package from
# dpkg-shlibdeps; CPack adds the ldconfig calls.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_READER-DEV_PACKAGE_NAME libzelkor-reader-dev)
set(CPACK_DEBIAN_READER-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_READER-DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_READER-DEV_PACKAGE_DEPENDS "liblz4-dev, libxxhash-dev, libcrypto++-dev")

include(CPack)
cpack_add_component(tools DISPLAY_NAME "Zelkor tools")
cpack_add_component(reader DISPLAY_NAME "Reader library")
cpack_add_component(reader-dev DISPLAY_NAME "Reader library development files" DEPENDS reader)
