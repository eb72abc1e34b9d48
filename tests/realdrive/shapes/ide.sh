# Two IDE (ATAPI) drives on the board's own controller: the primary master holds a disc, the
# secondary master is empty. Both answer INQUIRY with QEMU's own identity and 36 bytes.
drives=(
  -drive "file=$disc,format=raw,media=cdrom,if=ide,index=0,readonly=on"
  -drive "if=ide,index=2,media=cdrom"
)
# Each case runs for every target; "units" ejects the discs and the guest puts them back after.
cases=(inventory sgraw scan units)
