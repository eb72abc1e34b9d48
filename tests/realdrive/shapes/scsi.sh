# Three empty SCSI CD/DVD drives behind virtio-scsi, one per target: QEMU's own identity, an
# identity whose prefix comes from its revision, and the identity that is taken for another.
drives=(
  -device virtio-scsi-pci,id=scsi
  -drive if=none,id=cd0,media=cdrom
  -device scsi-cd,bus=scsi.0,scsi-id=0,drive=cd0
  -drive if=none,id=cd1,media=cdrom
  -device "scsi-cd,bus=scsi.0,scsi-id=1,drive=cd1,vendor=BRELMONT,product=CDW/DVD GA-W837C,ver=NA00"
  -drive if=none,id=cd2,media=cdrom
  -device "scsi-cd,bus=scsi.0,scsi-id=2,drive=cd2,vendor=TRUO,product=CD-ROM  GA-R837C,ver=TR00"
)
cases=(inventory sgraw scan units)
