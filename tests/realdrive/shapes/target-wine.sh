# The emulated drive for the Windows programs under Wine, whose pass-through reaches it through
# /dev/sr0: each transfer form, the probe afterwards, the unit attention and the drive that stops.
# shellcheck source=../target-common.sh
. "$here/target-common.sh"
only="win64 win32"
limit=600   # seconds: Wine starts 14 times
cases=(target-up scan flash-block flash-k64 flash-fixed attention gone-block)
