#!/bin/sh
# Regenerates runekit.pot from the sources: sh po/xgettext.sh [output]
top=$(dirname "$0")/..
exec xgettext --language=C++ --keyword=gettext --keyword=N_ --from-code=UTF-8 \
    --package-name=runekit --package-version=2.28 \
    --msgid-bugs-address=runekit-bugs@example.org --no-location \
    -o "${1:-$top/po/runekit.pot}" "$top/tally/main.cpp" "$top/tally/decoder.cpp"
