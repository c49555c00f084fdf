# The .rpm's scriptlet after installing and after removing: the MIME database
# rebuilt with or without packaging/linux/foliant-mime.xml.
if command -v update-mime-database >/dev/null 2>&1; then
  update-mime-database /usr/share/mime >/dev/null 2>&1 || :
fi
