#!/system/bin/sh
# Run by the root manager when the module is removed: the governors recorded at boot go back.
MODDIR=${0%/*}
# shellcheck source=Scripts/governors.sh
. "$MODDIR/Scripts/governors.sh"
restore_governors "$MODDIR/governors.orig" > /dev/null
