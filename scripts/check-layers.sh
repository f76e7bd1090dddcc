#!/usr/bin/env bash
# Fails when a folder includes past the layers it may use. The window (app/) and the command
# line (cli/) reach the module only through the session: of link/ and serial/ they include only
# the port-listing header. Below them, no layer includes one above it.
#   scripts/check-layers.sh [SOURCE_DIR]
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 2

# folder | project folders its sources must not include (an extended regular expression)
rules=(
    'app|link/|serial/(platform/|Comm\.h|CommThreads\.h)|cli/|tools/'
    'cli|link/|serial/(platform/|Comm\.h|CommThreads\.h)|app/|widgets/|dialogs/|desktop/|tools/'
    'session|app/|cli/|widgets/|dialogs/|desktop/|tools/'
    'link|app/|cli/|session/|widgets/|dialogs/|desktop/|tools/'
    'serial|app/|cli/|session/|link/|widgets/|dialogs/|desktop/|tools/'
    'protocol|app/|cli/|session/|link/|serial/|widgets/|dialogs/|desktop/|tools/'
)
status=0
for rule in "${rules[@]}"; do
    folder=${rule%%|*}
    forbidden=${rule#*|}
    hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"($forbidden)" "$folder" \
        --include='*.cpp' --include='*.h')
    if [ -n "$hits" ]; then
        echo "$folder/ includes past its layer:" >&2
        echo "$hits" >&2
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "layers: every folder includes only what it may"
exit "$status"
