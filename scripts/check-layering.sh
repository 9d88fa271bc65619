#!/usr/bin/env bash
# Fails when program code (app, capture, packet, document, ui) holds conditional
# compilation, system headers or Qt headers: those belong to platform/ and framework/.
set -u
root=${1:-.}
cd "$root" || exit 2
hits=$(grep -rnE '^\s*#\s*(if|ifdef|ifndef|elif)\b|#\s*include\s*<(sys/|linux/|netinet/|arpa/|net/|unistd|pthread|poll|fcntl|netdb|ifaddrs|Q[A-Za-z]*>|qt)' \
  app capture packet document ui 2>/dev/null)
if [ -n "$hits" ]; then
  echo "layering violations:"; echo "$hits"; exit 1
fi
echo "layering ok"
