#!/system/bin/sh
# The root manager's Action button: how Tessivar is doing, in a few lines, and the games on the
# phone not listed yet (one dump, only when the button is pressed).
MODDIR=${0%/*}
"$MODDIR/tessivarctl" status
exec "$MODDIR/tessivarctl" games suggest
