# bash completion for qvrestart, qvcopy, qvcomlog, qvdir, qvinstall, qvunpack
# and qvemu. Installed once under each program's name, so that bash-completion
# loads it for whichever of them is typed first.

# Where serial ports show up: USB adapters, modems and CDC devices, and the
# stable names udev gives them. Kept as patterns and expanded at each
# completion, so that an adapter plugged in after the shell started is offered.
_qvlink_port_patterns=('/dev/ttyUSB*' '/dev/ttyACM*' '/dev/serial/by-id/*')

# The options of each program: one letter after "-", the value of -s and -c in
# the same word.
_qvlink_options() {
  local link="-s0 -s1 -s2 -C -d --help --version"
  case $1 in
    qvrestart) echo "-r $link" ;;
    qvcopy) echo "-g -m -v $link" ;;
    qvcomlog) echo "-g -c0 -c1 -c2 -c3 -c4 -c5 -c6 -c7 -c8 -m -v $link" ;;
    qvdir) echo "$link" ;;
    qvinstall) echo "-q -t -D -R -v $link" ;;
    qvunpack) echo "-l -t --help --version" ;;
  esac
}

_qvlink_ports() {
  local pattern port
  for pattern in "${_qvlink_port_patterns[@]}"; do
    # compgen -G expands alike under any shopt (failglob, nullglob) or set -f.
    while IFS= read -r port; do
      [[ $port == "$1"* ]] && COMPREPLY+=("$port")
    done < <(compgen -G "$pattern")
  done
  # A port given by path (a pseudo-terminal, /dev/ttyS0) completes as a file.
  [[ ${#COMPREPLY[@]} -eq 0 && $1 == /* ]] && mapfile -t COMPREPLY < <(compgen -f -- "$1")
  return 0
}

_qvlink() {
  local program=${1##*/} cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  if [[ $program == qvemu ]]; then
    case $prev in
      --storage) mapfile -t COMPREPLY < <(compgen -d -- "$cur"); return 0 ;;
      --trace) mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return 0 ;;
    esac
    if [[ $cur == -* ]]; then
      # The emulator's options, as its own help lists them: each line of the
      # list starts with the option's names ("  --help, -h  this text").
      mapfile -t COMPREPLY < <(compgen -W "$("$1" --help 2>/dev/null |
        sed -n 's/^  \(-[-a-z]*\(, -[-a-z]*\)*\).*/\1/p' | tr -d ',')" -- "$cur")
    fi
    return 0
  fi
  if [[ $prev == -d ]]; then
    _qvlink_ports "$cur"
    return 0
  fi
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_qvlink_options "$program")" -- "$cur")
    return 0
  fi
  # qvrestart takes no names; qvdir's name is on the device.
  case $program in
    qvrestart | qvdir) ;;
    *) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
  esac
  return 0
}

# -o filenames: readline quotes the names of files it offers and marks folders
# with a "/".
complete -o filenames -F _qvlink qvrestart qvcopy qvcomlog qvdir qvinstall qvunpack qvemu
