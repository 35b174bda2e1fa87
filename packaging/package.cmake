# The Debian package, made by `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr and RUNEKIT_DEB_LAYOUT=ON (packaging/build-deb.sh
# does both). The programs come stripped from the install step
# (install_layout.cmake); dpkg-shlibdeps works out the library dependencies
# from them.
set(CPACK_PACKAGE_NAME runekit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The runekit developers")
set(CPACK_PACKAGE_CONTACT "runekit developers <runekit-bugs@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small filters for examining and transforming UTF-8 text")
set(CPACK_PACKAGE_DESCRIPTION
    "runekit is a suite of four command-line programs that do their own UTF-8
arithmetic on bytes, whatever the locale says, and tell every outcome by
their exit status. runetally writes a histogram of the characters of its
input, or a located report of the first sequence that is not valid UTF-8.
RuneAnatomy explains the UTF-8 sequence at an offset of a file, bit by bit.
runeflip reverses the characters of every line, moving multi-byte characters
whole. runepair gives the UTF-16 surrogate pair of a code point.")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_NAME runekit)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "runekit developers <runekit-bugs@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_GENERATOR DEB)
include(CPack)
