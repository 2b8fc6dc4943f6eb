# fish completion for lorvanta-cli: commands, each command's options, and files or folders where an
# option or operand takes one.
set -l commands preview download backup status viewer verify login help
complete -c lorvanta-cli -f
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a preview -d 'List the albums of a QQ number'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a download -d 'Download the albums of QQ numbers'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a backup -d 'Bring the copies of the accounts up to date'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a status -d 'The last backup of each account'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a viewer -d 'Rebuild the offline viewer of an album root'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a verify -d 'Check a copy against its manifests'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a login -d 'Sign in with QQ and write the session'
complete -c lorvanta-cli -n "not __fish_seen_subcommand_from $commands" -a help -d 'Help of a command'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from help" -a 'preview download backup status viewer verify login'
complete -c lorvanta-cli -s h -l help -d 'Print the help and exit'
complete -c lorvanta-cli -s V -l version -d 'Print the version and exit'

# What every command that asks the album services takes.
set -l services "__fish_seen_subcommand_from preview download backup"
complete -c lorvanta-cli -n $services -l route-host -x -d 'Album route service (host[:port])'
complete -c lorvanta-cli -n $services -l service -x -a 'classic current auto' -d 'Which album service to ask'
complete -c lorvanta-cli -n $services -l site-host -x -d 'Album site (host or http://host:port)'
complete -c lorvanta-cli -n $services -l list-pause -x -d 'Pause between list calls (seconds)'
complete -c lorvanta-cli -n $services -l busy-pause -x -d 'First wait when the album site is busy (seconds)'
complete -c lorvanta-cli -n $services -l max-requests-per-minute -x -d 'List calls a minute, at most (0: no limit)'
complete -c lorvanta-cli -n $services -l cookies -r -F -d 'Netscape cookie file to send'
complete -c lorvanta-cli -n $services -l cookies-out -r -F -d 'Write the session cookies to'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from preview download backup status" -l config -r -F -d 'Read options from'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from preview download backup status" -l json -d 'Print JSON'

complete -c lorvanta-cli -n "__fish_seen_subcommand_from preview" -l page -r -F -d 'Write the album list page'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from preview" -l client-number -x -d 'Client number of the album addresses'

set -l download "__fish_seen_subcommand_from download backup"
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
complete -c lorvanta-cli -n "__fish_seen_subcommand_from download backup viewer" -s q -l quiet -d 'Print nothing but errors'

complete -c lorvanta-cli -n "__fish_seen_subcommand_from backup" -l notify -x -a 'never failures always' -d 'When to tell on the desktop'

set -l login "__fish_seen_subcommand_from login"
complete -c lorvanta-cli -n $login -l cookies-out -r -F -d 'Write the session to (needed)'
complete -c lorvanta-cli -n $login -l login-host -x -d "QQ's sign-in (host or http://host:port)"
complete -c lorvanta-cli -n $login -l site-host -x -d 'Album site whose session is checked'
complete -c lorvanta-cli -n $login -l poll-pause -x -d "Pause between two looks at the code's state (seconds)"
complete -c lorvanta-cli -n $login -l config -r -F -d 'Read options from'

complete -c lorvanta-cli -n "__fish_seen_subcommand_from viewer" -x -a '(__fish_complete_directories)' -d 'Album root'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from verify" -x -a '(__fish_complete_directories)' -d 'Copy'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from verify" -l json -d 'The findings as JSON'
complete -c lorvanta-cli -n "__fish_seen_subcommand_from verify" -s q -l quiet -d 'Print nothing but the findings'
