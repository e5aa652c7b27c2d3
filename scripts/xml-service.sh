# Sourced by the service demonstrations: starts the local XML service from a linux64 build in
# a fresh work folder and stops it (and removes the folder) when the script exits.
# Usage: . scripts/xml-service.sh <linux64 build dir>
# Sets: build, java, jvm_library, work_dir, service_pid, endpoint.
build=$(cd "$1" && pwd)
java=$(readlink -f "$(command -v java)")
jvm_library="$(dirname "$(dirname "$java")")/lib/server/libjvm.so"
work_dir=$(mktemp -d)
service_pid=""
stop_xml_service() {
  [ -z "$service_pid" ] || { kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; }
  rm -rf "$work_dir"
}
trap stop_xml_service EXIT

"$java" -jar "$build/java/service/tavo-xmlservice.jar" 0 "$work_dir/port" >/dev/null &
service_pid=$!
for _ in $(seq 1 600); do [ -s "$work_dir/port" ] && break; sleep 0.05; done
[ -s "$work_dir/port" ] || { echo "the local XML service did not start" >&2; exit 1; }
endpoint="http://127.0.0.1:$(cat "$work_dir/port")/tavo"
