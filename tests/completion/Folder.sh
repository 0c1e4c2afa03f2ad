# The folder completion runs in for lu14's completion tests: file names that
# need quoting, one that looks like an option, and a folder.
folder_files=(-odd.hex backup.hex 'my backups' report.jsonl)
make_folder() {
  touch "$1/-odd.hex" "$1/backup.hex" "$1/report.jsonl"
  mkdir "$1/my backups"
}
