#!/usr/bin/env bash
# Lays out the demo machine: the server program in C:\WINDOWS\system, its
# configuration (127.0.0.1:8080, the demo document root, a demo journal
# password), a small demo site and the journal's demo images.
# Usage: scripts/demo-machine.sh MACHINE_FOLDER SERVER_BINARY
# Prints the journal password on its last line ("password: ...").
set -euo pipefail
machine=$1
server=$2
here=$(cd "$(dirname "$0")" && pwd)

system="$machine/c/WINDOWS/system"
docroot="$machine/c/Program Files/Vostrel Web Server"
mkdir -p "$system" "$machine/c/WINDOWS/system32" "$docroot/images"

# Replace the program by rename, so a copy never lands in a running file.
cp "$server" "$system/.vostreld.exe.new"
mv -f "$system/.vostreld.exe.new" "$system/vostreld.exe"

# Keep the password of an earlier layout, so a restart does not change it.
config="$system/VostrelWeb.SET"
password=""
if [[ -f "$config" ]]; then
  password=$(sed -n 4p "$config" | tr -d '\r')
fi
if [[ -z "$password" ]]; then
  password="demo-$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')"
fi
# A Windows text file: CR LF line ends; the document root ends in a backslash.
printf '127.0.0.1\r\n8080\r\nC:\\Program Files\\Vostrel Web Server\\\r\n%s\r\n' "$password" >"$config"

cat >"$docroot/index.htm" <<'HTML'
<HTML>
<HEAD><TITLE>Vostrel Web Server</TITLE></HEAD>
<BODY BGCOLOR="#F4F1EA" TEXT="#2B2B2B" LINK="#1F5F8B" VLINK="#5B3F8B">
<H1>Vostrel Web Server</H1>
<P>This small site is served by <B>vostreld</B>, running as the service
"vostrelserver" on an emulated Windows machine.</P>
<UL>
<LI><A HREF="/about.htm">About this server</A></LI>
<LI><A HREF="/JOURNAL_SHOW1">The journal</A> (pages 1 to 9)</LI>
<LI><A HREF="/JOURNAL_ADMIN">Edit the journal</A> (needs the journal password)</LI>
</UL>
<P><IMG SRC="/images/VBlogHeader.PNG" ALT="" WIDTH="760" HEIGHT="90"></P>
<HR><SMALL>Every connection is written to C:\WINDOWS\system\VostrelWeb.log.</SMALL>
</BODY>
</HTML>
HTML

cat >"$docroot/about.htm" <<'HTML'
<HTML>
<HEAD><TITLE>About Vostrel Web Server</TITLE></HEAD>
<BODY BGCOLOR="#F4F1EA" TEXT="#2B2B2B" LINK="#1F5F8B">
<H1>About</H1>
<P>One listener thread accepts the connections, one at a time, and hands each
to one of ten worker slots. A worker reads the request once, builds the whole
response in memory, sends it and closes the connection.</P>
<P>Plain GET and HEAD requests are answered with files of the document root,
C:\Program Files\Vostrel Web Server\. Paths with a percent sign or with more
than one dot are refused.</P>
<P><A HREF="/">Back</A></P>
</BODY>
</HTML>
HTML

if [[ -f "$here/make-demo-images.py" ]] && command -v python3 >/dev/null; then
  python3 "$here/make-demo-images.py" "$docroot/images" >/dev/null
fi
echo "password: $password"
