# fish completion for lorvanta-cli: commands, each command's options, and files or folders where an
# option or operand takes one.
set -l commands preview download viewer verify help
complete -c lorvanta-cli -f
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a preview -d 'List the albums of a QQ number'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a download -d 'Download the albums of a QQ number'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a viewer -d 'Rebuild the offline viewer of an album root'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a help -d 'Help of a command'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a verify -d 'Check a copy against its manifests'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from help" -a 'preview download viewer verify'
complete -c lorvanta-cli -s h -l help -d 'Print the help and exit'
complete -c lorvanta-cli -s V -l version -d 'Print the version and exit'

set -l listing "__fish_seen_subcommand_from preview download"
complete -c lorvanta-cli -n $listing -l route-host -x -d 'Album route service (host[:port])'
complete -c lorvanta-cli -n $listing -l cookies -r -F -d 'Netscape cookie file to send'
complete -c lorvanta-cli -n $listing -l cookies-out -r -F -d 'Write the session cookies to'
complete -c lorvanta-cli -n $listing -l json -d 'Print JSON'

complete -c lorvanta-cli -n "__fish_seen_subcommand_from preview" -l page -r -F -d 'Write the album list page'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from preview" -l client-number -x -d 'Client number of the album addresses'

set -l download "__fish_seen_subcommand_from download"
complete -c lorvanta-cli -n $download -s o -l to -x -a '(__fish_complete_directories)' -d 'Folder that receives QQ的相册'
complete -c lorvanta-cli -n $download -l album -x -d 'Download this album'
complete -c lorvanta-cli -n $download -l skip -x -d 'Leave this album out'
complete -c lorvanta-cli -n $download -s j -l jobs -x -d 'Photos fetched at once (1-32)'
complete -c lorvanta-cli -n $download -l retries -x -d 'Tries again per photo (0-100)'
complete -c lorvanta-cli -n $download -l rate -x -d 'Bytes per second, k or m suffix'
complete -c lorvanta-cli -n $download -l max-photo-size -x -d 'Largest photo, k, m or g suffix'
complete -c lorvanta-cli -n $download -l update -d 'Fetch only what is not there yet'
complete -c lorvanta-cli -n $download -l keep-deleted -d 'Photos deleted by hand stay out'
complete -c lorvanta-cli -n $download -l write-metadata -d 'Write the manifests'
complete -c lorvanta-cli -n $download -l no-viewer -d 'Leave the offline viewer as it is'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from download viewer" -s q -l quiet -d 'Print nothing but errors'

complete -c lorvanta-cli -n "__fish_seen_subcommand_from viewer" -x -a '(__fish_complete_directories)' -d 'Album root'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from verify" -x -a '(__fish_complete_directories)' -d 'Copy'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from verify" -l json -d 'The findings as JSON'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from verify" -s q -l quiet -d 'Print nothing but the findings'
