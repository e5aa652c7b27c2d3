package it.vantrel.pkcs11.demo;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeSet;

/**
 * Walks a module through one bridge and writes the compatibility dump: module, slots, tokens,
 * mechanisms, the session state before and after login, every object the session sees, and a
 * signature over fixed data (RSA PKCS#1 v1.5 is deterministic, so both bridges must agree).
 *
 *   ModuleDump bridge|jdk MODULE [--login] [--slot ID]
 *
 * With --login the user PIN is the first line of standard input (never an argument: others
 * could read it in the process list).
 */
public final class ModuleDump {
    static final int CKF_SERIAL_SESSION = 0x4;
    private static final long CKF_TOKEN_PRESENT = 0x1;
    private static final long CKA_CLASS = 0x0;
    private static final long CKA_PRIVATE = 0x2;
    private static final long CKA_LABEL = 0x3;
    private static final long CKA_VALUE = 0x11;
    private static final long CKA_KEY_TYPE = 0x100;
    private static final long CKA_ID = 0x102;
    private static final long CKA_SIGN = 0x108;
    private static final long CKO_PRIVATE_KEY = 3;
    private static final long CKK_RSA = 0;
    private static final long CKM_RSA_PKCS = 0x1;
    private static final long CKM_SHA256_RSA_PKCS = 0x40;
    private static final byte[] SIGNED_DATA = "p11bridge compatibility check".getBytes(StandardCharsets.US_ASCII);
    // DER prefix of a SHA-256 DigestInfo, for modules that sign only with raw CKM_RSA_PKCS.
    private static final byte[] SHA256_DIGEST_INFO = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, (byte) 0x86, 0x48, 0x01,
        0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    private static final String[] OBJECT_FACTS = {"class", "label", "label.text", "id", "value", "private"};
    private static final String[] COUNT_NAMES = {"maxSessionCount", "sessionCount", "maxRwSessionCount",
        "rwSessionCount", "maxPinLen", "minPinLen", "totalPublicMemory", "freePublicMemory", "totalPrivateMemory",
        "freePrivateMemory"};

    /** Whether handles fit the 32 bits of a Java int (the bridge carries no more). */
    static final String NARROW = "32 bits";
    static final String WIDE = "above 32 bits";

    /** What to dump: the PIN to log in with (null: no login) and the one slot for sessions (null: all). */
    public record Options(String pin, Long slot) {
    }

    private interface Step {
        void run() throws ModuleSide.Failure;
    }

    private final ModuleSide side;
    private final DumpLines dump = new DumpLines();

    private ModuleDump(ModuleSide side) {
        this.side = side;
    }

    /** Runs a step; a refused call ends the step with its error as the value of the key. */
    private boolean step(String key, Step step) {
        try {
            step.run();
            return true;
        } catch (ModuleSide.Failure e) {
            dump.put(key, e.getMessage());
            return false;
        }
    }

    public static DumpLines dump(ModuleSide side, Options options) {
        ModuleDump walk = new ModuleDump(side);
        walk.module();
        List<Long> slots = new ArrayList<>();
        walk.step("slots", () -> {
            for (long id : side.slots(false)) slots.add(id);
            walk.dump.put("slots.all", ids(slots));
            walk.dump.put("slots.withToken", ids(side.slots(true)));
        });
        for (long slot : slots) {
            boolean present = walk.slot(slot);
            walk.token(slot);
            long[] mechanisms = walk.mechanisms(slot);
            if (present && (options.slot() == null || options.slot() == slot)) {
                walk.session(slot, options.pin(), mechanisms);
            }
        }
        return walk.dump;
    }

    private static String ids(List<Long> ids) {
        return ids.isEmpty() ? "none" : String.join(",", ids.stream().map(DumpLines::number).toList());
    }

    private static String ids(long[] ids) {
        return ids(Arrays.stream(ids).boxed().toList());
    }

    private static String width(long... handles) {
        return Arrays.stream(handles).allMatch(h -> Long.compareUnsigned(h, 0xFFFFFFFFL) <= 0) ? NARROW : WIDE;
    }

    private static String version(ModuleSide.Version v) {
        return DumpLines.version(v.major(), v.minor());
    }

    private void module() {
        step("module", () -> {
            ModuleSide.Info info = side.info();
            dump.put("module.cryptokiVersion", version(info.cryptoki()));
            dump.put("module.manufacturerID", DumpLines.text(info.manufacturerID()));
            dump.put("module.flags", DumpLines.hex(info.flags()));
            dump.put("module.libraryDescription", DumpLines.text(info.libraryDescription()));
            dump.put("module.libraryVersion", version(info.library()));
        });
    }

    /** True when the slot reports a token. */
    private boolean slot(long slot) {
        String key = "slot." + DumpLines.number(slot);
        boolean[] present = {false};
        step(key, () -> {
            ModuleSide.SlotInfo info = side.slotInfo(slot);
            dump.put(key + ".description", DumpLines.text(info.description()));
            dump.put(key + ".manufacturerID", DumpLines.text(info.manufacturerID()));
            dump.put(key + ".flags", DumpLines.hex(info.flags()));
            dump.put(key + ".hardwareVersion", version(info.hardware()));
            dump.put(key + ".firmwareVersion", version(info.firmware()));
            present[0] = (info.flags() & CKF_TOKEN_PRESENT) != 0;
        });
        return present[0];
    }

    private void token(long slot) {
        String key = "token." + DumpLines.number(slot);
        step(key, () -> {
            ModuleSide.TokenInfo info = side.tokenInfo(slot);
            dump.put(key + ".label", DumpLines.text(info.label()));
            dump.put(key + ".manufacturerID", DumpLines.text(info.manufacturerID()));
            dump.put(key + ".model", DumpLines.text(info.model()));
            dump.put(key + ".serialNumber", DumpLines.text(info.serialNumber()));
            dump.put(key + ".flags", DumpLines.hex(info.flags()));
            for (int i = 0; i < COUNT_NAMES.length; i++) {
                dump.put(key + "." + COUNT_NAMES[i], DumpLines.number(info.counts()[i]));
            }
            dump.put(key + ".hardwareVersion", version(info.hardware()));
            dump.put(key + ".firmwareVersion", version(info.firmware()));
            dump.put(key + ".utcTime", DumpLines.text(info.utcTime()));
        });
    }

    private long[] mechanisms(long slot) {
        String key = "mechanisms." + DumpLines.number(slot);
        long[][] types = {new long[0]};
        step(key, () -> {
            types[0] = side.mechanisms(slot);
            dump.put(key + ".count", Integer.toString(types[0].length));
        });
        for (long type : new TreeSet<>(Arrays.stream(types[0]).boxed().toList())) {
            String mechanism = "mechanism." + DumpLines.number(slot) + "." + DumpLines.hex(type);
            step(mechanism, () -> {
                ModuleSide.MechanismInfo info = side.mechanismInfo(slot, type);
                dump.put(mechanism + ".minKeySize", DumpLines.number(info.minKeySize()));
                dump.put(mechanism + ".maxKeySize", DumpLines.number(info.maxKeySize()));
                dump.put(mechanism + ".flags", DumpLines.hex(info.flags()));
            });
        }
        return types[0];
    }

    private void sessionState(String key, long session) {
        step(key, () -> {
            ModuleSide.SessionInfo info = side.sessionInfo(session);
            dump.put(key + ".state", DumpLines.number(info.state()));
            dump.put(key + ".flags", DumpLines.hex(info.flags()));
            dump.put(key + ".deviceError", DumpLines.hex(info.deviceError()));
        });
    }

    private void session(long slot, String pin, long[] mechanisms) {
        String id = DumpLines.number(slot);
        String key = "session." + id;
        long[] session = {0};
        if (!step(key + ".open", () -> session[0] = side.openSession(slot))) return;
        dump.put(key + ".open", "ok");
        dump.put(key + ".handleWidth", width(session[0]));
        sessionState(key + ".before", session[0]);
        boolean loggedIn = false;
        if (pin == null) {
            dump.put(key + ".login", "skipped");
        } else if (step(key + ".login", () -> side.login(session[0], pin))) {
            dump.put(key + ".login", "ok");
            sessionState(key + ".after", session[0]);
            loggedIn = true;
        }
        Map<Long, Integer> objectIndex = objects(id, session[0]);
        signature(id, session[0], mechanisms, objectIndex);
        if (loggedIn) step(key + ".logout", () -> side.logout(session[0]));
        step(key + ".close", () -> side.closeSession(session[0]));
    }

    private interface Fact {
        String read() throws ModuleSide.Failure;
    }

    /** The fact, or the error that refused it. */
    private static String fact(Fact fact) {
        try {
            return fact.read();
        } catch (ModuleSide.Failure e) {
            return e.getMessage();
        }
    }

    /** One object's facts in dump order: class, label bytes, label text, ID, value, private flag. */
    private String[] objectFacts(long session, long object) {
        return new String[] {fact(() -> DumpLines.hex(side.intAttribute(session, object, CKA_CLASS))),
            fact(() -> DumpLines.text(side.bytesAttribute(session, object, CKA_LABEL))),
            fact(() -> DumpLines.escaped(side.textAttribute(session, object, CKA_LABEL))),
            fact(() -> "hex:" + DumpLines.hex(side.bytesAttribute(session, object, CKA_ID))),
            fact(() -> DumpLines.value(side.bytesAttribute(session, object, CKA_VALUE))),
            fact(() -> Boolean.toString(side.boolAttribute(session, object, CKA_PRIVATE)))};
    }

    /**
     * Every object the session sees, in an order of their facts (handles differ between
     * processes), then how many objects a search for each class finds. Returns each handle's
     * place in that order.
     */
    private Map<Long, Integer> objects(String slot, long session) {
        Map<Long, Integer> index = new HashMap<>();
        long[][] handles = {new long[0]};
        if (!step("objects." + slot, () -> handles[0] = side.findObjects(session, new long[0], new Object[0]))) {
            return index;
        }
        dump.put("objects." + slot + ".count", Integer.toString(handles[0].length));
        dump.put("objects." + slot + ".handleWidth", width(handles[0]));
        record Facts(long handle, String[] facts, String order) {
        }
        List<Facts> all = new ArrayList<>();
        for (long handle : handles[0]) {
            String[] facts = objectFacts(session, handle);
            all.add(new Facts(handle, facts, String.join("\n", facts)));
        }
        all.sort((a, b) -> a.order().compareTo(b.order()));
        TreeSet<String> classes = new TreeSet<>();
        for (int i = 0; i < all.size(); i++) {
            index.put(all.get(i).handle(), i);
            String key = "object." + slot + "." + i;
            for (int f = 0; f < OBJECT_FACTS.length; f++) dump.put(key + "." + OBJECT_FACTS[f], all.get(i).facts()[f]);
            if (all.get(i).facts()[0].startsWith("0x")) classes.add(all.get(i).facts()[0]);
        }
        // Vendor classes lie above 2^31: the search template must carry them unchanged.
        for (String objectClass : classes) {
            String key = "search." + slot + ".class." + objectClass;
            long value = Long.parseUnsignedLong(objectClass.substring(2), 16);
            step(key, () -> dump.put(key, Integer.toString(
                    side.findObjects(session, new long[] {CKA_CLASS}, new Object[] {value}).length)));
        }
        return index;
    }

    private void signature(String slot, long session, long[] mechanisms, Map<Long, Integer> objectIndex) {
        String key = "signature." + slot;
        step(key, () -> {
            long[] keys = side.findObjects(session, new long[] {CKA_CLASS, CKA_KEY_TYPE, CKA_SIGN},
                    new Object[] {CKO_PRIVATE_KEY, CKK_RSA, Boolean.TRUE});
            Long first = null;
            for (long k : keys) {
                if (objectIndex.containsKey(k) && (first == null || objectIndex.get(k) < objectIndex.get(first))) {
                    first = k;
                }
            }
            boolean hashing = Arrays.stream(mechanisms).anyMatch(m -> m == CKM_SHA256_RSA_PKCS);
            boolean raw = Arrays.stream(mechanisms).anyMatch(m -> m == CKM_RSA_PKCS);
            if (first == null || !(hashing || raw)) {
                dump.put(key, first == null ? "no RSA signing key" : "no RSA PKCS#1 mechanism");
                return;
            }
            dump.put(key + ".key", "object." + slot + "." + objectIndex.get(first));
            dump.put(key + ".mechanism", DumpLines.hex(hashing ? CKM_SHA256_RSA_PKCS : CKM_RSA_PKCS));
            byte[] data = hashing ? SIGNED_DATA : digestInfo(SIGNED_DATA);
            dump.put(key + ".value", "hex:" + DumpLines.hex(side.sign(session, first, hashing ? CKM_SHA256_RSA_PKCS
                                                                                            : CKM_RSA_PKCS, data)));
        });
    }

    private static byte[] digestInfo(byte[] data) {
        try {
            byte[] hash = MessageDigest.getInstance("SHA-256").digest(data);
            byte[] info = Arrays.copyOf(SHA256_DIGEST_INFO, SHA256_DIGEST_INFO.length + hash.length);
            System.arraycopy(hash, 0, info, SHA256_DIGEST_INFO.length, hash.length);
            return info;
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException(e);
        }
    }

    public static void main(String[] args) throws IOException {
        if (args.length < 2 || !(args[0].equals("bridge") || args[0].equals("jdk"))) {
            System.err.println("usage: ModuleDump bridge|jdk <Cryptoki module> [--login] [--slot ID]");
            System.exit(2);
        }
        String pin = null;
        Long slot = null;
        for (int i = 2; i < args.length; i++) {
            if (args[i].equals("--login")) {
                pin = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8)).readLine();
            } else if (args[i].equals("--slot") && i + 1 < args.length) {
                slot = Long.parseUnsignedLong(args[++i]);
            }
        }
        ModuleSide side;
        try {
            side = args[0].equals("bridge") ? new BridgeSide(args[1]) : new JdkSide(args[1]);
        } catch (ModuleSide.Failure e) {
            System.out.println("load " + e.getMessage());
            return;
        }
        try {
            dump(side, new Options(pin, slot)).print(System.out);
        } finally {
            side.finish();
        }
    }
}
