package it.vantrel.pkcs11.bench;

import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.util.List;

import sun.security.pkcs11.wrapper.CK_ATTRIBUTE;
import sun.security.pkcs11.wrapper.CK_C_INITIALIZE_ARGS;
import sun.security.pkcs11.wrapper.CK_MECHANISM;
import sun.security.pkcs11.wrapper.PKCS11;

/**
 * The token workloads through p11bridge and through the JDK's own Cryptoki wrapper, in one
 * process against one module, the two ways interleaved in every repetition so that both see
 * the same machine load.
 *
 *   run MODULE REPS [OUT]            one line "workload,bridge|jdk,ns per call" per repetition,
 *                                    to OUT (default standard output)
 *   profile MODULE WORKLOAD CALLS [bridge|jdk]   one way's calls only, for an instruction counter
 *   threads MODULE REPS [OUT]        RSA-2048 SHA-256 signatures per second on 8 threads, each on
 *                                    a session of its own: the bridge and the JDK wrapper on the
 *                                    module initialised without OS locking (the wrapper then
 *                                    serialises its calls in Java), "workload,way,per second" lines
 *   threads-os-locking MODULE REPS [OUT]   the same through the JDK wrapper alone, which
 *                                    initialises the module with CKF_OS_LOCKING_OK in this JVM
 *   peak MODULE bridge|jdk CALLS     one way's 16 MB encryptions only, then one line
 *                                    "peak_rss_aes_ecb_16m,WAY,peak resident kB" of this process
 *
 * With PKCS11_OXL_DEBUG set the bridge traces (to jpkcs110.log for "2", which then is standard
 * output too): run measures only the traced row, session_info_traced. The system property
 * bench.workloads (a regular expression) limits run to the workloads whose names match.
 */
public final class P11Bench {
    // Agreed with p11floor (bench_token.h).
    static final String USER_PIN = "1234";
    static final String AES_LABEL = "bench-aes";
    static final String RSA_LABEL = "bench-rsa";
    static final String FIND_LABEL = "bench-find";
    static final int FIND_COUNT = 100;
    static final String FIND_LARGE_LABEL = "bench-find-1000";
    static final int FIND_LARGE_COUNT = 1000;
    static final String CERT_LABEL = "bench-cert";
    static final int CERT_LENGTH = 1024;
    static final String CREATE_LABEL = "bench-created";
    static final String TRACED = "session_info_traced";
    static final int SIGN_DATA_LENGTH = 64;
    static final String LARGE_LABEL = "bench-large";
    static final int LARGE_VALUE_LENGTH = 1 << 20;
    static final int MB = 1 << 20;

    static final int CKO_DATA = 0;
    static final int CKO_CERTIFICATE = 1;
    static final int CKC_X_509 = 0;
    static final int CKO_PRIVATE_KEY = 3;
    static final int CKO_SECRET_KEY = 4;
    static final int CKA_CLASS = 0;
    static final int CKA_TOKEN = 1;
    static final int CKA_PRIVATE = 2;
    static final int CKA_LABEL = 3;
    static final int CKA_APPLICATION = 0x10;
    static final int CKA_VALUE = 0x11;
    static final int CKA_CERTIFICATE_TYPE = 0x80;
    static final int CKA_SUBJECT = 0x101;
    static final int CKA_ENCRYPT = 0x104;
    static final int CKA_SIGN = 0x108;
    static final int CKA_VERIFY = 0x10A;
    static final int CKA_MODULUS_BITS = 0x121;
    static final int CKA_PUBLIC_EXPONENT = 0x122;
    static final int CKA_VALUE_LEN = 0x161;
    static final int CKM_RSA_PKCS_KEY_PAIR_GEN = 0;
    static final int CKM_AES_KEY_GEN = 0x1080;
    static final int CKM_SHA256_RSA_PKCS = 0x40;
    static final int CKM_AES_ECB = 0x1081;
    static final int CKF_RW_SERIAL = 6;
    static final long CKU_USER = 1;
    static final long CKR_USER_ALREADY_LOGGED_IN = 0x100;
    static final long CKF_OS_LOCKING_OK = 2;
    static final int CKF_TOKEN_INITIALIZED = 0x400;

    interface Call {
        void run() throws Exception;
    }

    record Workload(String name, int iterations, Call bridge, Call jdk) {
    }

    private P11Bench() {
    }

    public static void main(String[] args) throws Exception {
        if (args.length < 2) {
            System.err.println("usage: P11Bench run MODULE REPS [OUT] | profile MODULE WORKLOAD CALLS [bridge|jdk]");
            System.exit(2);
        }
        if (args[0].startsWith("threads")) {
            threads(args);
            return;
        }
        NativePKCS11 module = new NativePKCS11();
        List<Workload> workloads = prepare(module, args[1]);
        if (args[0].equals("peak")) {
            Workload w = workloads.stream().filter(x -> x.name().equals("aes_ecb_16m")).findFirst().orElseThrow();
            boolean jdkWay = args[2].equals("jdk");
            Call call = jdkWay ? w.jdk() : w.bridge();
            int calls = Integer.parseInt(args[3]);
            for (int i = 0; i < calls; i++) call.run();
            System.out.println("peak_rss_aes_ecb_16m," + (jdkWay ? "jdk" : "bridge") + "," + peakResidentKb());
            return;
        }
        if (args[0].equals("profile")) {
            Workload w = workloads.stream().filter(x -> x.name().equals(args[2])).findFirst().orElseThrow();
            int calls = Integer.parseInt(args[3]);
            Call call = args.length > 4 && args[4].equals("jdk") ? w.jdk() : w.bridge();
            // Marks the start of the measured calls: the profiler zeroes its counters here.
            module.getBridgeVersion();
            for (int i = 0; i < calls; i++) call.run();
            return;
        }
        int reps = args.length > 2 ? Integer.parseInt(args[2]) : 7;
        boolean traced = System.getenv("PKCS11_OXL_DEBUG") != null;
        String only = System.getProperty("bench.workloads", ".*");
        workloads = workloads.stream().filter(w -> w.name().equals(TRACED) == traced && w.name().matches(only))
            .toList();
        // Warm-up: enough calls for the JIT to settle on both paths.
        for (int i = 0; i < 3; i++) {
            for (Workload w : workloads) {
                sample(w.bridge(), w.iterations());
                sample(w.jdk(), w.iterations());
            }
        }
        StringBuilder out = new StringBuilder();
        for (int rep = 0; rep < reps; rep++) {
            for (Workload w : workloads) {
                // Alternate which way goes first so neither always inherits the other's caches.
                boolean bridgeFirst = rep % 2 == 0;
                double first = sample(bridgeFirst ? w.bridge() : w.jdk(), w.iterations());
                double second = sample(bridgeFirst ? w.jdk() : w.bridge(), w.iterations());
                line(out, w.name(), "bridge", bridgeFirst ? first : second);
                line(out, w.name(), "jdk", bridgeFirst ? second : first);
            }
        }
        if (args.length > 3) {
            java.nio.file.Files.writeString(java.nio.file.Path.of(args[3]), out);
        } else {
            System.out.print(out);
        }
    }

    static final String THREADED = "rsa2048_sha256_sign_8_threads";
    static final int THREADS = 8;
    static final int SIGNATURES_PER_THREAD = 40;

    /** Signs on a session of its own, opened by the factory; returns the sign-once call. */
    interface Signer {
        Call open() throws Exception;
    }

    private static void threads(String[] args) throws Exception {
        String modulePath = args[1];
        int reps = args.length > 2 ? Integer.parseInt(args[2]) : 7;
        List<String> ways = new java.util.ArrayList<>();
        List<Signer> signers = new java.util.ArrayList<>();
        if (args[0].equals("threads-os-locking")) {
            CK_C_INITIALIZE_ARGS initArgs = new CK_C_INITIALIZE_ARGS();
            initArgs.flags = CKF_OS_LOCKING_OK;
            ways.add("jdk_os_locking");
            signers.add(jdkSigner(PKCS11.getInstance(modulePath, "C_GetFunctionList", initArgs, false)));
        } else {
            NativePKCS11 module = new NativePKCS11();
            prepare(module, modulePath);  // initialises the module without arguments, makes the keys
            NativePKCS11Slot slot = tokenSlot(module);
            ways.add("bridge");
            signers.add(() -> {
                NativePKCS11Session session = slot.openSession(CKF_RW_SERIAL, null, null);
                NativePKCS11Object key = findBridgeObject(session, CKO_PRIVATE_KEY, RSA_LABEL);
                byte[] data = new byte[SIGN_DATA_LENGTH];
                byte[] signature = new byte[256];
                return () -> {
                    session.signInit(CKM_SHA256_RSA_PKCS, null, key);
                    session.sign(data, 0, data.length, signature, 0);
                };
            });
            // A module path of its own gives a wrapper instance of its own: without OS locking
            // it is the wrapper's serialising one. The module is initialised already.
            String samePath = modulePath.substring(0, modulePath.lastIndexOf('/')) + "/."
                    + modulePath.substring(modulePath.lastIndexOf('/'));
            ways.add("jdk_serialising");
            signers.add(jdkSigner(PKCS11.getInstance(samePath, "C_GetFunctionList", null, true)));
        }
        List<Call[]> calls = new java.util.ArrayList<>();
        for (Signer signer : signers) {
            Call[] perThread = new Call[THREADS];
            for (int t = 0; t < THREADS; t++) perThread[t] = signer.open();
            calls.add(perThread);
        }
        for (Call[] perThread : calls) onThreads(perThread, 5);  // warm-up
        StringBuilder out = new StringBuilder();
        for (int rep = 0; rep < reps; rep++) {
            for (int i = 0; i < ways.size(); i++) {
                // Alternate which way goes first, as the single-thread rows do.
                int w = rep % 2 == 0 ? i : ways.size() - 1 - i;
                double seconds = onThreads(calls.get(w), SIGNATURES_PER_THREAD);
                out.append(THREADED).append(',').append(ways.get(w)).append(',')
                    .append(String.format("%.1f", THREADS * SIGNATURES_PER_THREAD / seconds)).append('\n');
            }
        }
        if (args.length > 3) {
            java.nio.file.Files.writeString(java.nio.file.Path.of(args[3]), out);
        } else {
            System.out.print(out);
        }
    }

    /** Seconds for every thread to make `count` calls, all started together. */
    private static double onThreads(Call[] perThread, int count) throws Exception {
        java.util.concurrent.CyclicBarrier start = new java.util.concurrent.CyclicBarrier(perThread.length + 1);
        List<java.util.concurrent.FutureTask<Void>> tasks = new java.util.ArrayList<>();
        for (Call call : perThread) {
            java.util.concurrent.FutureTask<Void> task = new java.util.concurrent.FutureTask<>(() -> {
                start.await();
                for (int i = 0; i < count; i++) call.run();
                return null;
            });
            tasks.add(task);
            new Thread(task).start();
        }
        start.await();
        long begin = System.nanoTime();
        for (java.util.concurrent.FutureTask<Void> task : tasks) task.get();
        return (System.nanoTime() - begin) / 1e9;
    }

    private static NativePKCS11Slot tokenSlot(NativePKCS11 module) throws Exception {
        for (NativePKCS11Slot candidate : module.getSlotList(true)) {
            if ((candidate.getTokenInfo().flags & CKF_TOKEN_INITIALIZED) != 0) return candidate;
        }
        throw new IllegalStateException("no initialised token");
    }

    /** Sessions of the wrapper on the first initialised token, logged in, with a key pair. */
    private static Signer jdkSigner(PKCS11 jdk) throws Exception {
        long slot = -1;
        for (long candidate : jdk.C_GetSlotList(true)) {
            if (slot == -1 && (jdk.C_GetTokenInfo(candidate).flags & CKF_TOKEN_INITIALIZED) != 0) slot = candidate;
        }
        expect(slot != -1, "no initialised token through the JDK wrapper");
        long tokenSlot = slot;
        long first = jdk.C_OpenSession(tokenSlot, CKF_RW_SERIAL, null, null);
        try {
            jdk.C_Login(first, CKU_USER, USER_PIN.toCharArray());
        } catch (sun.security.pkcs11.wrapper.PKCS11Exception e) {
            if (e.getErrorCode() != CKR_USER_ALREADY_LOGGED_IN) throw e;
        }
        jdk.C_FindObjectsInit(first, labelTemplate(CKO_PRIVATE_KEY, RSA_LABEL));
        boolean present = jdk.C_FindObjects(first, 1).length == 1;
        jdk.C_FindObjectsFinal(first);
        if (!present) createObjects(jdk, first);
        CK_MECHANISM mechanism = new CK_MECHANISM(CKM_SHA256_RSA_PKCS);
        return () -> {
            long session = jdk.C_OpenSession(tokenSlot, CKF_RW_SERIAL, null, null);
            long key = findJdkObject(jdk, session, CKO_PRIVATE_KEY, RSA_LABEL);
            byte[] data = new byte[SIGN_DATA_LENGTH];
            return () -> {
                jdk.C_SignInit(session, mechanism, key);
                jdk.C_Sign(session, data);
            };
        };
    }

    private static void line(StringBuilder out, String workload, String way, double ns) {
        out.append(workload).append(',').append(way).append(',').append(String.format("%.1f", ns)).append('\n');
    }

    private static double sample(Call call, int iterations) throws Exception {
        long start = System.nanoTime();
        for (int i = 0; i < iterations; i++) call.run();
        return (System.nanoTime() - start) / (double) iterations;
    }

    /** VmHWM of this process: the most it was ever resident. */
    private static long peakResidentKb() throws Exception {
        for (String line : java.nio.file.Files.readAllLines(java.nio.file.Path.of("/proc/self/status"))) {
            if (line.startsWith("VmHWM:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
        throw new IllegalStateException("no VmHWM");
    }

    private static void expect(boolean condition, String what) {
        if (!condition) throw new IllegalStateException(what);
    }

    private static List<Workload> prepare(NativePKCS11 module, String modulePath) throws Exception {
        // The bridge initialises the module; the JDK wrapper then binds the same, already
        // initialised module (its C_Initialize is skipped).
        module.loadPKCS11Library(modulePath);
        module.libInitialize();
        NativePKCS11Slot slot = null;
        for (NativePKCS11Slot candidate : module.getSlotList(true)) {
            if (slot == null && (candidate.getTokenInfo().flags & CKF_TOKEN_INITIALIZED) != 0) slot = candidate;
        }
        expect(slot != null, "no initialised token");
        NativePKCS11Session session = slot.openSession(CKF_RW_SERIAL, null, null);
        session.login(false, USER_PIN);

        CK_C_INITIALIZE_ARGS initArgs = new CK_C_INITIALIZE_ARGS();
        initArgs.flags = CKF_OS_LOCKING_OK;
        PKCS11 jdk = PKCS11.getInstance(modulePath, "C_GetFunctionList", initArgs, true);
        long jdkSlot = -1;
        for (long candidate : jdk.C_GetSlotList(true)) {
            if (jdkSlot == -1 && (jdk.C_GetTokenInfo(candidate).flags & CKF_TOKEN_INITIALIZED) != 0) jdkSlot = candidate;
        }
        expect(jdkSlot != -1, "no initialised token through the JDK wrapper");
        long jdkSession = jdk.C_OpenSession(jdkSlot, CKF_RW_SERIAL, null, null);
        try {
            jdk.C_Login(jdkSession, CKU_USER, USER_PIN.toCharArray());
        } catch (sun.security.pkcs11.wrapper.PKCS11Exception e) {
            if (e.getErrorCode() != CKR_USER_ALREADY_LOGGED_IN) throw e;
        }
        createObjects(jdk, jdkSession);
        NativePKCS11Object aesKey = findBridgeObject(session, CKO_SECRET_KEY, AES_LABEL);
        NativePKCS11Object rsaKey = findBridgeObject(session, CKO_PRIVATE_KEY, RSA_LABEL);
        NativePKCS11Object certificate = findBridgeObject(session, CKO_CERTIFICATE, CERT_LABEL);
        NativePKCS11Object largeObject = findBridgeObject(session, CKO_DATA, LARGE_LABEL);
        long jdkAesKey = findJdkObject(jdk, jdkSession, CKO_SECRET_KEY, AES_LABEL);
        long jdkRsaKey = findJdkObject(jdk, jdkSession, CKO_PRIVATE_KEY, RSA_LABEL);
        long jdkCertificate = findJdkObject(jdk, jdkSession, CKO_CERTIFICATE, CERT_LABEL);
        long jdkLargeObject = findJdkObject(jdk, jdkSession, CKO_DATA, LARGE_LABEL);
        long jdkSlotId = jdkSlot;
        NativePKCS11Slot tokenSlot = slot;
        CK_MECHANISM aesMechanism = new CK_MECHANISM(CKM_AES_ECB);

        byte[] block = new byte[16];
        byte[] encrypted = new byte[16];
        byte[] toSign = new byte[SIGN_DATA_LENGTH];
        byte[] createdValue = {1, 2, 3, 4, 5, 6, 7, 8};

        return List.of(
            new Workload("session_info", 20000,
                () -> session.getInfo(),
                () -> jdk.C_GetSessionInfo(jdkSession)),
            new Workload("attribute_label", 20000,
                () -> aesKey.getStringAttributeValue(CKA_LABEL),
                () -> jdk.C_GetAttributeValue(jdkSession, jdkAesKey, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_LABEL)})),
            new Workload("aes_ecb_16", 10000,
                () -> {
                    session.encryptInit(CKM_AES_ECB, null, aesKey);
                    session.encrypt(block, 0, block.length, encrypted, 0);
                },
                () -> {
                    jdk.C_EncryptInit(jdkSession, aesMechanism, jdkAesKey);
                    jdk.C_Encrypt(jdkSession, 0, block, 0, block.length, 0, encrypted, 0, encrypted.length);
                }),
            rsaSigning("rsa2048_sha256_sign", 20, toSign, session, rsaKey, jdk, jdkSession, jdkRsaKey),
            search("find_100", 200, session, jdk, jdkSession, FIND_LABEL, FIND_COUNT),
            new Workload("slot_list", 20000,
                () -> module.getSlotList(true),
                () -> jdk.C_GetSlotList(true)),
            new Workload("token_info", 20000,
                () -> tokenSlot.getTokenInfo(),
                () -> jdk.C_GetTokenInfo(jdkSlotId)),
            new Workload("mechanism_list", 10000,
                () -> tokenSlot.getMechanismList(),
                () -> jdk.C_GetMechanismList(jdkSlotId)),
            valueRead("certificate_value_1k", 20000, CERT_LENGTH, certificate, jdk, jdkSession, jdkCertificate),
            creation("create_object_6", 5000, createdValue, session, jdk, jdkSession),
            search("find_1000", 20, session, jdk, jdkSession, FIND_LARGE_LABEL, FIND_LARGE_COUNT),
            aesEncryption("aes_ecb_64k", 2000, 64 << 10, session, aesKey, jdk, jdkSession, jdkAesKey),
            aesEncryption("aes_ecb_1m", 100, MB, session, aesKey, jdk, jdkSession, jdkAesKey),
            aesEncryption("aes_ecb_16m", 6, 16 * MB, session, aesKey, jdk, jdkSession, jdkAesKey),
            rsaSigning("rsa2048_sha256_sign_16m", 4, new byte[16 * MB], session, rsaKey, jdk, jdkSession,
                jdkRsaKey),
            creation("create_object_1m", 100, new byte[LARGE_VALUE_LENGTH], session, jdk, jdkSession),
            valueRead("attribute_value_1m", 200, LARGE_VALUE_LENGTH, largeObject, jdk, jdkSession, jdkLargeObject),
            new Workload(TRACED, 20000,
                () -> session.getInfo(),
                () -> jdk.C_GetSessionInfo(jdkSession)));
    }

    /** One CKM_SHA256_RSA_PKCS signature over all of `data`. */
    private static Workload rsaSigning(String name, int iterations, byte[] data, NativePKCS11Session session,
            NativePKCS11Object key, PKCS11 jdk, long jdkSession, long jdkKey) {
        byte[] signature = new byte[256];
        CK_MECHANISM mechanism = new CK_MECHANISM(CKM_SHA256_RSA_PKCS);
        return new Workload(name, iterations,
            () -> {
                session.signInit(CKM_SHA256_RSA_PKCS, null, key);
                session.sign(data, 0, data.length, signature, 0);
            },
            () -> {
                jdk.C_SignInit(jdkSession, mechanism, jdkKey);
                jdk.C_Sign(jdkSession, data);
            });
    }

    /** The CKA_VALUE of an object, `length` bytes. */
    private static Workload valueRead(String name, int iterations, int length, NativePKCS11Object object, PKCS11 jdk,
            long jdkSession, long jdkObject) {
        return new Workload(name, iterations,
            () -> expect(object.getByteArrayAttributeValue(CKA_VALUE).length == length, "bridge value"),
            () -> {
                CK_ATTRIBUTE[] value = {new CK_ATTRIBUTE(CKA_VALUE)};
                jdk.C_GetAttributeValue(jdkSession, jdkObject, value);
                expect(value[0].getByteArray().length == length, "JDK wrapper value");
            });
    }

    /**
     * A data object of six attributes with the value, destroyed again at once so that the token
     * stays as it was for the other workloads.
     */
    private static Workload creation(String name, int iterations, byte[] value, NativePKCS11Session session,
            PKCS11 jdk, long jdkSession) {
        int[] types = {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_APPLICATION, CKA_VALUE};
        Object[] values = {Integer.valueOf(CKO_DATA), Boolean.FALSE, Boolean.FALSE, CREATE_LABEL, "bench", value};
        return new Workload(name, iterations,
            () -> session.createObject(types, values).destroy(),
            () -> jdk.C_DestroyObject(jdkSession, jdk.C_CreateObject(jdkSession, new CK_ATTRIBUTE[] {
                new CK_ATTRIBUTE(CKA_CLASS, (long) CKO_DATA), new CK_ATTRIBUTE(CKA_TOKEN, false),
                new CK_ATTRIBUTE(CKA_PRIVATE, false), new CK_ATTRIBUTE(CKA_LABEL, CREATE_LABEL.toCharArray()),
                new CK_ATTRIBUTE(CKA_APPLICATION, "bench".toCharArray()), new CK_ATTRIBUTE(CKA_VALUE, value)})));
    }

    /**
     * One AES-ECB encryption of `length` bytes, into an output array one block longer than the
     * encrypted bytes, as a caller that does not trim its buffer hands it.
     */
    private static Workload aesEncryption(String name, int iterations, int length, NativePKCS11Session session,
            NativePKCS11Object key, PKCS11 jdk, long jdkSession, long jdkKey) {
        byte[] data = new byte[length];
        byte[] encrypted = new byte[length + 16];
        CK_MECHANISM mechanism = new CK_MECHANISM(CKM_AES_ECB);
        return new Workload(name, iterations,
            () -> {
                session.encryptInit(CKM_AES_ECB, null, key);
                expect(session.encrypt(data, 0, length, encrypted, 0) == length, "bridge encrypted length");
            },
            () -> {
                jdk.C_EncryptInit(jdkSession, mechanism, jdkKey);
                expect(jdk.C_Encrypt(jdkSession, 0, data, 0, length, 0, encrypted, 0, encrypted.length) == length,
                    "JDK wrapper encrypted length");
            });
    }

    /** Every data object with the label, one findObject after the other. */
    private static Workload search(String name, int iterations, NativePKCS11Session session, PKCS11 jdk,
            long jdkSession, String label, int count) {
        int[] types = {CKA_CLASS, CKA_LABEL};
        Object[] values = {Integer.valueOf(CKO_DATA), label};
        CK_ATTRIBUTE[] jdkTemplate = labelTemplate(CKO_DATA, label);
        return new Workload(name, iterations,
            () -> {
                session.findObjectsInit(types, values);
                int seen = 0;
                while (session.findObject() != null) seen++;
                session.findObjectsFinal();
                expect(seen == count, "bridge search count " + seen);
            },
            () -> {
                jdk.C_FindObjectsInit(jdkSession, jdkTemplate);
                int seen = 0;
                while (jdk.C_FindObjects(jdkSession, 1).length > 0) seen++;
                jdk.C_FindObjectsFinal(jdkSession);
                expect(seen == count, "JDK wrapper search count " + seen);
            });
    }

    /**
     * The keys and the search objects, as session objects of this process (p11floor makes the
     * same): token objects would have the module re-read its files on every access.
     */
    private static void createObjects(PKCS11 jdk, long session) throws Exception {
        jdk.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN), new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_TOKEN, false), new CK_ATTRIBUTE(CKA_LABEL, AES_LABEL.toCharArray()),
            new CK_ATTRIBUTE(CKA_VALUE_LEN, 16L), new CK_ATTRIBUTE(CKA_ENCRYPT, true),
            new CK_ATTRIBUTE(CKA_PRIVATE, false)});
        jdk.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN),
            new CK_ATTRIBUTE[] {
                new CK_ATTRIBUTE(CKA_TOKEN, false), new CK_ATTRIBUTE(CKA_LABEL, RSA_LABEL.toCharArray()),
                new CK_ATTRIBUTE(CKA_MODULUS_BITS, 2048L), new CK_ATTRIBUTE(CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}),
                new CK_ATTRIBUTE(CKA_VERIFY, true)},
            new CK_ATTRIBUTE[] {
                new CK_ATTRIBUTE(CKA_TOKEN, false), new CK_ATTRIBUTE(CKA_LABEL, RSA_LABEL.toCharArray()),
                new CK_ATTRIBUTE(CKA_PRIVATE, true), new CK_ATTRIBUTE(CKA_SIGN, true)});
        for (int i = 0; i < FIND_COUNT + FIND_LARGE_COUNT; i++) {
            String label = i < FIND_COUNT ? FIND_LABEL : FIND_LARGE_LABEL;
            jdk.C_CreateObject(session, new CK_ATTRIBUTE[] {
                new CK_ATTRIBUTE(CKA_CLASS, (long) CKO_DATA), new CK_ATTRIBUTE(CKA_TOKEN, false),
                new CK_ATTRIBUTE(CKA_PRIVATE, false), new CK_ATTRIBUTE(CKA_LABEL, label.toCharArray()),
                new CK_ATTRIBUTE(CKA_VALUE, new byte[] {(byte) i})});
        }
        byte[] certificate = new byte[CERT_LENGTH];
        for (int i = 0; i < CERT_LENGTH; i++) certificate[i] = (byte) i;
        jdk.C_CreateObject(session, new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_CLASS, (long) CKO_CERTIFICATE), new CK_ATTRIBUTE(CKA_CERTIFICATE_TYPE, (long) CKC_X_509),
            new CK_ATTRIBUTE(CKA_TOKEN, false), new CK_ATTRIBUTE(CKA_LABEL, CERT_LABEL.toCharArray()),
            new CK_ATTRIBUTE(CKA_SUBJECT, new byte[] {0x30, 0}), new CK_ATTRIBUTE(CKA_VALUE, certificate)});
        jdk.C_CreateObject(session, new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_CLASS, (long) CKO_DATA), new CK_ATTRIBUTE(CKA_TOKEN, false),
            new CK_ATTRIBUTE(CKA_PRIVATE, false), new CK_ATTRIBUTE(CKA_LABEL, LARGE_LABEL.toCharArray()),
            new CK_ATTRIBUTE(CKA_VALUE, new byte[LARGE_VALUE_LENGTH])});
    }

    private static NativePKCS11Object findBridgeObject(NativePKCS11Session session, int objectClass, String label)
            throws Exception {
        session.findObjectsInit(new int[] {CKA_CLASS, CKA_LABEL}, new Object[] {Integer.valueOf(objectClass), label});
        NativePKCS11Object found = session.findObject();
        session.findObjectsFinal();
        expect(found != null, "no " + label + " through the bridge");
        return found;
    }

    private static CK_ATTRIBUTE[] labelTemplate(long objectClass, String label) {
        return new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_CLASS, objectClass), new CK_ATTRIBUTE(CKA_LABEL, label.toCharArray())};
    }

    private static long findJdkObject(PKCS11 jdk, long session, long objectClass, String label) throws Exception {
        jdk.C_FindObjectsInit(session, labelTemplate(objectClass, label));
        long[] found = jdk.C_FindObjects(session, 1);
        jdk.C_FindObjectsFinal(session);
        expect(found.length == 1, "no " + label + " through the JDK wrapper");
        return found[0];
    }
}
