# bash completion for lorvanta-cli: commands, each command's options, and files or folders where an
# option or operand takes one.
_lorvanta_cli() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion -s || return
  else
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  fi

  local commands="preview download backup status viewer verify login help"
  local common="--help --version"
  # What every command that asks the album services takes (preview, download, backup).
  local services="--route-host --service --site-host --list-pause --busy-pause --max-requests-per-minute
    --cookies --cookies-out --config"
  local download="--to -o --album --skip --jobs -j --retries --rate --max-photo-size --update --keep-deleted
    --write-metadata --no-viewer --quiet -q --json"
  local command="" at=0 i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      preview | download | backup | status | viewer | verify | login | help)
        command=${words[i]}
        at=$i
        break
        ;;
    esac
  done

  case $prev in
    --to | -o)
      COMPREPLY=($(compgen -d -- "$cur"))
      return
      ;;
    --cookies | --cookies-out | --page | --config)
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    --service)
      COMPREPLY=($(compgen -W "classic current auto" -- "$cur"))
      return
      ;;
    --notify)
      COMPREPLY=($(compgen -W "never failures always" -- "$cur"))
      return
      ;;
    --route-host | --site-host | --login-host | --album | --skip | --jobs | -j | --retries | --rate | \
      --max-photo-size | --client-number | --list-pause | --busy-pause | --poll-pause | \
      --max-requests-per-minute)
      return  # a value of the user's own
      ;;
  esac

  case $command in
    "")
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$common -h -V" -- "$cur"))
      else
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
      fi
      ;;
    help)
      ((cword == at + 1)) &&
        COMPREPLY=($(compgen -W "preview download backup status viewer verify login" -- "$cur"))
      ;;
    preview)
      [[ $cur == -* ]] && COMPREPLY=($(compgen -W "$common $services --json --page --client-number" -- "$cur"))
      ;;
    download)
      [[ $cur == -* ]] && COMPREPLY=($(compgen -W "$common $services $download" -- "$cur"))
      ;;
    backup)
      [[ $cur == -* ]] && COMPREPLY=($(compgen -W "$common $services $download --notify" -- "$cur"))
      ;;
    status)
      [[ $cur == -* ]] && COMPREPLY=($(compgen -W "$common --json --config" -- "$cur"))
      ;;
    login)
      [[ $cur == -* ]] &&
        COMPREPLY=($(compgen -W "$common --cookies-out --login-host --site-host --poll-pause --config" -- "$cur"))
      ;;
    viewer | verify)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$common --quiet -q $([[ $command == verify ]] && echo --json)" -- "$cur"))
      else
        COMPREPLY=($(compgen -d -- "$cur"))
      fi
      ;;
  esac
}
complete -F _lorvanta_cli -o filenames lorvanta-cli
