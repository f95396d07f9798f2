# Sourced by scripts/test and the benchmarks: a throwaway PostgreSQL cluster in a folder of its own,
# reachable only through a socket in that folder, run by an unprivileged user (the server refuses
# to run as root; as root the cluster belongs to the `postgres` user of Debian's package).

postgres_bin=${POSTGRES_BIN:-/usr/lib/postgresql/15/bin}
postgres_folder=

# Runs a command as the owner of the cluster.
as_cluster_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

# Starts a cluster in $1 (a new folder) and exports TUNALO_TEST_POSTGRES, the address of its
# `postgres` database, and TUNALO_TEST_POSTGRES_DATA, its data folder (whose postmaster.pid names
# the server, which the tests stop and resume to play a hung database). Further arguments are
# server settings (-c name=value).
start_private_postgres() {
    local folder=$1
    shift
    mkdir -p "$folder"
    [ "$(id -u)" -ne 0 ] || chown postgres: "$folder"
    as_cluster_owner "$postgres_bin/initdb" -D "$folder/data" -U postgres --auth=trust --no-sync --no-locale \
        --encoding=UTF8 >"$folder/initdb.log" 2>&1 || {
        tail -n 5 "$folder/initdb.log" >&2
        return 1
    }
    postgres_folder=$folder
    as_cluster_owner "$postgres_bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
        -o "-c listen_addresses= -k $folder $*" start >/dev/null || {
        tail -n 5 "$folder/server.log" >&2
        return 1
    }
    # The socket folder goes into the address's host part, its slashes percent-encoded.
    export TUNALO_TEST_POSTGRES="postgresql://postgres@${folder//\//%2F}/postgres"
    export TUNALO_TEST_POSTGRES_DATA="$folder/data"
}

# Stops the cluster at once (its data is thrown away) and removes its folder.
stop_private_postgres() {
    [ -n "$postgres_folder" ] || return 0
    as_cluster_owner "$postgres_bin/pg_ctl" -D "$postgres_folder/data" -m immediate -w stop >/dev/null 2>&1 ||
        true
    rm -rf "$postgres_folder"
    postgres_folder=
    unset TUNALO_TEST_POSTGRES TUNALO_TEST_POSTGRES_DATA
}
