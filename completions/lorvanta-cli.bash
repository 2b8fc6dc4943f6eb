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

  local commands="preview download viewer verify help"
  local common="--help --version"
  local listing="--route-host --cookies --cookies-out --json"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      preview | download | viewer | verify | help)
        command=${words[i]}
        break
        ;;
    esac
  done

  case $prev in
    --to | -o)
      COMPREPLY=($(compgen -d -- "$cur"))
      return
      ;;
    --cookies | --cookies-out | --page)
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    --route-host | --album | --skip | --jobs | -j | --retries | --rate | --max-photo-size | --client-number)
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
      COMPREPLY=($(compgen -W "preview download viewer verify" -- "$cur"))
      ;;
    preview)
      [[ $cur == -* ]] && COMPREPLY=($(compgen -W "$common $listing --page --client-number" -- "$cur"))
      ;;
    download)
      [[ $cur == -* ]] && COMPREPLY=($(compgen -W "$common $listing --to -o --album --skip --jobs -j --retries
        --rate --max-photo-size --update --keep-deleted --write-metadata --no-viewer --quiet -q" -- "$cur"))
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
