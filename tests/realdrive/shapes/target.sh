# The emulated drive, natively: every case, the slow ones (a real minute each) only here. The
# Windows programs run the same drive in target-wine, beside this guest.
# shellcheck source=../target-common.sh
. "$here/target-common.sh"
only="native"
limit=600   # seconds: two cases wait out the tool's one-minute limit
cases=(target-up scan
  flash-block flash-k64 flash-fixed
  attention gone-block
  lock-native polling-native hold-block-native hold-final-native
  bench-native remove-native)
