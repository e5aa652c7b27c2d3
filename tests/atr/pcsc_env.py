#!/usr/bin/env python3
"""A private PC/SC stack for the ATR tests: pcscd with the vpcd reader driver and our virtual cards.

  pcsc_env.py start DIR [--readers 0|2]   pcscd on DIR/pcscd.comm (clients: PCSCLITE_CSOCK_NAME)
  pcsc_env.py insert DIR SLOT ATRHEX       a virtual card with that ATR into reader SLOT
  pcsc_env.py remove DIR SLOT              takes the card out again
  pcsc_env.py stop DIR                     stops cards and pcscd and removes DIR

pcscd gets its listening socket from us (socket activation), so it never touches the
machine's own /run/pcscd/pcscd.comm and a system pcscd may keep running beside it.
vpcd opens one reader per slot, listening on consecutive TCP ports.
"""
import ctypes
import ctypes.util
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

PCSCD = "/usr/sbin/pcscd"
VPCD_DRIVER = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so.0.8"
VPCD_SLOTS = 2
HERE = os.path.dirname(os.path.abspath(__file__))
TIMEOUT = 15.0

SCARD_STATE_PRESENT = 0x20
SCARD_E_TIMEOUT = 0x8010000A


class ReaderState(ctypes.Structure):
    _fields_ = [("reader", ctypes.c_char_p), ("user_data", ctypes.c_void_p),
                ("current_state", ctypes.c_ulong), ("event_state", ctypes.c_ulong),
                ("atr_length", ctypes.c_ulong), ("atr", ctypes.c_ubyte * 33)]


def fail(message):
    print("pcsc_env: " + message, file=sys.stderr)
    sys.exit(1)


def state_path(directory):
    return os.path.join(directory, "state.json")


def load_state(directory):
    with open(state_path(directory)) as f:
        return json.load(f)


def process_alive(pid, name_part):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return name_part.encode() in f.read()
    except OSError:
        return False


def terminate(pid, name_part):
    if not process_alive(pid, name_part):
        return
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        try:
            # Our own children are reaped here; others just disappear from /proc.
            if os.waitpid(pid, os.WNOHANG)[0] == pid:
                return
        except ChildProcessError:
            pass
        if not process_alive(pid, name_part):
            return
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)


def free_port_pair():
    for _ in range(200):
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        base = probe.getsockname()[1]
        probe.close()
        if base + VPCD_SLOTS > 65535:
            continue
        try:
            holders = []
            for port in range(base, base + VPCD_SLOTS):
                s = socket.socket()
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                s.bind(("", port))
                holders.append(s)
            for s in holders:
                s.close()
            return base
        except OSError:
            for s in holders:
                s.close()
    fail("no free TCP ports for the virtual reader")


def pcsc_library(directory):
    os.environ["PCSCLITE_CSOCK_NAME"] = os.path.join(directory, "pcscd.comm")
    return ctypes.CDLL(ctypes.util.find_library("pcsclite") or "libpcsclite.so.1")


def with_context(directory, work):
    lib = pcsc_library(directory)
    context = ctypes.c_long(0)
    rv = lib.SCardEstablishContext(ctypes.c_ulong(0), None, None, ctypes.byref(context))
    if rv != 0:
        fail("SCardEstablishContext: 0x%x" % (rv & 0xFFFFFFFF))
    try:
        return work(lib, context)
    finally:
        lib.SCardReleaseContext(context)


def reader_names(lib, context):
    length = ctypes.c_ulong(0)
    rv = lib.SCardListReaders(context, None, None, ctypes.byref(length)) & 0xFFFFFFFF
    if rv != 0:
        return []
    buffer = ctypes.create_string_buffer(length.value)
    lib.SCardListReaders(context, None, buffer, ctypes.byref(length))
    return [n.decode() for n in buffer.raw[:length.value].split(b"\0") if n]


def wait_for_card(directory, slot, present):
    def work(lib, context):
        names = reader_names(lib, context)
        if slot >= len(names):
            fail("no reader %d (readers: %s)" % (slot, names))
        state = ReaderState(reader=names[slot].encode(), current_state=0)
        deadline = time.monotonic() + TIMEOUT
        while True:
            rv = lib.SCardGetStatusChange(context, ctypes.c_ulong(500), ctypes.byref(state), ctypes.c_ulong(1))
            rv &= 0xFFFFFFFF
            if rv not in (0, SCARD_E_TIMEOUT):
                fail("SCardGetStatusChange: 0x%x" % rv)
            if bool(state.event_state & SCARD_STATE_PRESENT) == present:
                return
            if time.monotonic() > deadline:
                fail("reader %d: card %s did not show" % (slot, "insertion" if present else "removal"))
            if rv == 0:
                state.current_state = state.event_state
    with_context(directory, work)


def launch_pcscd(directory, readers):
    """Starts pcscd with vpcd on fresh ports; returns whether it serves the expected readers."""
    conf = os.path.join(directory, "reader.conf.d")
    shutil.rmtree(conf, ignore_errors=True)
    os.makedirs(conf)
    port = free_port_pair()
    if readers:
        with open(os.path.join(conf, "vpcd"), "w") as f:
            f.write('FRIENDLYNAME "Virtual PCD"\nDEVICENAME /dev/null:%d\nLIBPATH %s\nCHANNELID %d\n'
                    % (port, VPCD_DRIVER, port))
    socket_path = os.path.join(directory, "pcscd.comm")
    if os.path.exists(socket_path):
        os.unlink(socket_path)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(socket_path)
    listener.listen(32)
    os.chmod(socket_path, 0o666)
    log = os.open(os.path.join(directory, "pcscd.log"), os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
    pid = os.fork()
    if pid == 0:
        try:
            os.setsid()
            os.dup2(listener.fileno(), 3)
            os.set_inheritable(3, True)
            os.dup2(log, 1)
            os.dup2(log, 2)
            null = os.open(os.devnull, os.O_RDONLY)
            os.dup2(null, 0)
            env = dict(os.environ, LISTEN_PID=str(os.getpid()), LISTEN_FDS="1")
            os.execve(PCSCD, [PCSCD, "--foreground", "--info", "--config", conf], env)
        finally:
            os._exit(127)
    listener.close()
    os.close(log)
    with open(state_path(directory), "w") as f:
        json.dump({"pcscd": pid, "port": port, "readers": readers}, f)
    return len(with_context(directory, reader_names)) == readers


def start(directory, readers):
    if os.path.exists(state_path(directory)):
        stop(directory)
    os.makedirs(directory, mode=0o700, exist_ok=True)
    # Another program may take the chosen ports before vpcd binds them: then try fresh ones.
    for _ in range(3):
        if launch_pcscd(directory, readers):
            return
        terminate(load_state(directory)["pcscd"], "pcscd")
    stop(directory)
    fail("pcscd did not serve %d readers" % readers)


def card_pid_path(directory, slot):
    return os.path.join(directory, "card-%d.pid" % slot)


def insert(directory, slot, atr):
    state = load_state(directory)
    if os.path.exists(card_pid_path(directory, slot)):
        remove(directory, slot)
    log = open(os.path.join(directory, "card-%d.log" % slot), "w")
    card = subprocess.Popen([sys.executable, os.path.join(HERE, "virtual_card.py"),
                             "--port", str(state["port"] + slot), "--atr", atr],
                            stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(card_pid_path(directory, slot), "w") as f:
        f.write(str(card.pid))
    wait_for_card(directory, slot, True)


def remove(directory, slot):
    path = card_pid_path(directory, slot)
    if not os.path.exists(path):
        return
    with open(path) as f:
        terminate(int(f.read()), "virtual_card.py")
    os.unlink(path)
    wait_for_card(directory, slot, False)


def stop(directory):
    if not os.path.isdir(directory):
        return
    for slot in range(VPCD_SLOTS):
        path = card_pid_path(directory, slot)
        if os.path.exists(path):
            with open(path) as f:
                terminate(int(f.read()), "virtual_card.py")
    if os.path.exists(state_path(directory)):
        terminate(load_state(directory)["pcscd"], "pcscd")
    shutil.rmtree(directory, ignore_errors=True)


def main(argv):
    if len(argv) < 3:
        fail(__doc__)
    command, directory = argv[1], argv[2]
    if command == "start":
        readers = VPCD_SLOTS
        if len(argv) > 4 and argv[3] == "--readers":
            readers = int(argv[4])
        start(directory, readers)
    elif command == "insert" and len(argv) == 5:
        insert(directory, int(argv[3]), argv[4])
    elif command == "remove" and len(argv) == 4:
        remove(directory, int(argv[3]))
    elif command == "stop":
        stop(directory)
    else:
        fail(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
