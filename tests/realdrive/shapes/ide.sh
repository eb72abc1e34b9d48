# Two IDE (ATAPI) drives on the board's own controller: the primary master holds a disc, the
# secondary master is empty. Both answer INQUIRY with QEMU's own identity and 36 bytes.
drives=(
  -drive "file=$disc,format=raw,media=cdrom,if=ide,index=0,readonly=on"
  -drive "if=ide,index=2,media=cdrom"
)
# The kernel sets the secondary master (port 2, device 0) to PIO 4; the primary master keeps the
# DMA mode it agrees with QEMU: each kind of transfer mode is read from sysfs once.
append="libata.force=2.00:pio4"
# An image for QEMU's drives: type 1, so the prefix (three NULs on these drives) is not compared.
# Both drives fit it; the first, the one with the disc, is chosen.
image=(--vendor QEMU --product "QEMU DVD-ROM" --revision 2.6+ --type 1 --prefix "   ")
# scan, units and the download cases run for every target. "units" ejects the discs and puts
# them back; the download without an option ejects the disc and the guest closes the tray again;
# "eject" opens every tray, so the last download finds no disc.
cases=(inventory sgraw scan units download-disc-live download-disc eject download-nodisc-live)
