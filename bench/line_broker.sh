# Sourced by the line benchmarks: Debian's mosquitto on a free loopback port of this machine,
# with TLS (a CA made here), a password file (user "station", password "secret") and sessions
# kept across its restarts. Needs $work (a folder the benchmark removes at its end).
#   broker_setup        makes the files, sets $port, $broker_args (for mosquitto_pub/sub)
#   start_broker        starts it, waits until it answers; stop_broker stops it
broker_pid=
broker_setup() {
    chmod 755 "$work" # Debian's mosquitto reads its files as the user mosquitto
    mkdir -p "$work/db"
    chmod 777 "$work/db"
    (
        cd "$work"
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 1 -subj /CN=bench-ca
        openssl req -newkey rsa:2048 -nodes -keyout broker.key -out broker.csr -subj /CN=127.0.0.1
        printf 'subjectAltName=IP:127.0.0.1\n' >ext
        openssl x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial \
            -out broker.crt -days 1 -extfile ext
        chmod 644 broker.key
        mosquitto_passwd -c -b passwords station secret
        chmod 644 passwords
        printf 'station\nsecret\n' >login
    ) >/dev/null 2>&1
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    printf '%s\n' "listener $port 127.0.0.1" "allow_anonymous false" \
        "password_file $work/passwords" "cafile $work/ca.crt" "certfile $work/broker.crt" \
        "keyfile $work/broker.key" "persistence true" "persistence_location $work/db/" \
        >"$work/broker.conf"
    broker_args=(-h 127.0.0.1 -p "$port" --cafile "$work/ca.crt" -u station -P secret)
}
start_broker() {
    mosquitto -c "$work/broker.conf" >>"$work/broker.log" 2>&1 &
    broker_pid=$!
    for _ in $(seq 50); do
        mosquitto_pub "${broker_args[@]}" -t bench/ready -n 2>/dev/null && return
        sleep 0.1
    done
    echo "the broker did not start" >&2
    exit 1
}
stop_broker() {
    kill "$broker_pid"
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=
}
