#!/system/bin/sh
# The game list from a root shell: games.sh list | add PKG... | remove PKG... | check | fix
moddir=${0%/*}/..
exec "$moddir/tessivarctl" games "$@"
