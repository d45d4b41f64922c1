#!/system/bin/sh
# The root manager's Action button: how Tessivar is doing, in a few lines.
MODDIR=${0%/*}
exec "$MODDIR/tessivarctl" status
