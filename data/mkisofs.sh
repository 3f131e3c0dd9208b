#!/bin/sh
# The program folder's image maker: whichever of the two compatible makers is
# installed, so the program keeps working when either one is removed.
for maker in /usr/bin/genisoimage /usr/bin/xorrisofs; do
    if [ -x "$maker" ]; then
        exec "$maker" "$@"
    fi
done
echo "mkisofs: neither genisoimage nor xorriso is installed" >&2
exit 127
