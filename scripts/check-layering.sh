#!/usr/bin/env bash
# Fails when the layers are crossed:
# - program code (app, capture, packet, document, ui) holds conditional
#   compilation, system headers or Qt headers: those belong to platform/ and
#   framework/;
# - platform/ includes Qt anywhere but in its settings store
#   (platform/linux/Registry.cpp), and there anything but Qt Core's settings
#   and value types;
# - a folder includes a header of a folder above it. The order is the order
#   in which the libraries link (see each folder's CMakeLists.txt):
#   platform < framework < packet < capture < document < ui < app.
set -u
root=${1:-.}
cd "$root" || exit 2
status=0
hits=$(grep -rnE '^\s*#\s*(if|ifdef|ifndef|elif)\b|#\s*include\s*<(sys/|linux/|netinet/|arpa/|net/|unistd|pthread|poll|fcntl|netdb|ifaddrs|Q[A-Za-z]*>|qt)' \
  app capture packet document ui 2>/dev/null)
if [ -n "$hits" ]; then
  echo "layering violations (program code):"; echo "$hits"; status=1
fi

qt='#\s*include\s*<(Q[A-Za-z]*|qt[A-Za-z]*/[^>]*)>'
hits=$( { grep -rnE "$qt" platform 2>/dev/null | grep -v '^platform/linux/Registry\.cpp:';
          grep -nHE "$qt" platform/linux/Registry.cpp 2>/dev/null |
              grep -vE '<(QByteArray|QSettings|QString|QStringList|QVariant)>'; } )
if [ -n "$hits" ]; then
  echo "layering violations (Qt in the platform layer):"; echo "$hits"; status=1
fi

order=(platform framework packet capture document ui app)
for ((i = 0; i < ${#order[@]}; ++i)); do
  above=("${order[@]:i+1}")
  [ ${#above[@]} -eq 0 ] && continue
  pattern="#\\s*include\\s*\"($(IFS='|'; echo "${above[*]}"))/"
  hits=$(grep -rnE "$pattern" "${order[i]}" 2>/dev/null)
  if [ -n "$hits" ]; then
    echo "layering violations (${order[i]}/ includes a folder above it):"; echo "$hits"; status=1
  fi
done

[ "$status" = 0 ] && echo "layering ok"
exit "$status"
