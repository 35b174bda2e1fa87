#!/bin/sh
# Regenerates runekit.pot from the sources: sh po/xgettext.sh [output]
# The version is the project's, as CMakeLists.txt gives it.
top=$(dirname "$0")/..
version=$(sed -n 's/^project(runekit VERSION \([^ )]*\).*/\1/p' "$top/CMakeLists.txt")
exec xgettext --language=C++ --keyword=gettext --keyword=N_ --from-code=UTF-8 \
    --package-name=runekit --package-version="$version" \
    --msgid-bugs-address=runekit-bugs@example.org --no-location \
    -o "${1:-$top/po/runekit.pot}" "$top/tally/main.cpp" "$top/tally/report.cpp"
