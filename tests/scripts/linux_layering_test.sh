#!/usr/bin/env bash
# The portable layers include no system header of either platform and no Qt:
# everything platform-specific goes through the interfaces in src/platform/.
. "$(dirname "$0")/lib.sh"

src="$SCOUR_SOURCE/src"
forbidden='#\s*include\s*[<"](windows\.h|winioctl\.h|shlobj\.h|shellapi\.h|winreg\.h|unistd\.h|fcntl\.h|spawn\.h|blkid/|linux/|sys/|Q[A-Za-z]+|qt[a-z]*/|platform/(linux|win32)/)'
for layer in base options media app pages; do
    [ -d "$src/$layer" ] || continue
    hits=$(grep -rnE "$forbidden" "$src/$layer" || true)
    if [ -z "$hits" ]; then ok "$layer includes no platform header"; else
        not_ok "$layer includes no platform header" "$hits"
    fi
done

# Frames and the command line reach platform code only through DefaultServices
# and the interfaces, never a concrete platform class.
hits=$(grep -rnE '#\s*include\s*"platform/(linux|win32)/' "$src/cli" 2>/dev/null || true)
if [ -z "$hits" ]; then ok "cli uses the platform interfaces only"; else
    not_ok "cli uses the platform interfaces only" "$hits"
fi
finish
