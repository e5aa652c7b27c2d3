package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.spec.RSAPublicKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;

import javax.crypto.Cipher;
import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** The Java signing run and the AES operations end to end against a SoftHSM2 token. */
class CryptoSoftHsmTest {
    static final int CKA_CLASS = 0x0;
    static final int CKA_TOKEN = 0x1;
    static final int CKA_LABEL = 0x3;
    static final int CKA_VALUE = 0x11;
    static final int CKA_KEY_TYPE = 0x100;
    static final int CKA_SENSITIVE = 0x103;
    static final int CKA_ENCRYPT = 0x104;
    static final int CKA_DECRYPT = 0x105;
    static final int CKA_WRAP = 0x106;
    static final int CKA_UNWRAP = 0x107;
    static final int CKA_SIGN = 0x108;
    static final int CKA_VERIFY = 0x10A;
    static final int CKA_MODULUS = 0x120;
    static final int CKA_MODULUS_BITS = 0x121;
    static final int CKA_PUBLIC_EXPONENT = 0x122;
    static final int CKA_VALUE_LEN = 0x161;
    static final int CKA_EXTRACTABLE = 0x162;
    static final int CKO_PRIVATE_KEY = 3;
    static final int CKO_SECRET_KEY = 4;
    static final int CKK_AES = 0x1F;
    static final int CKM_RSA_PKCS_KEY_PAIR_GEN = 0x0;
    static final int CKM_RSA_PKCS = 0x1;
    static final int CKM_SHA256_RSA_PKCS = 0x40;
    static final int CKM_AES_KEY_GEN = 0x1080;
    static final int CKM_AES_ECB = 0x1081;
    static final int CKM_AES_KEY_WRAP = 0x2109;
    static final int SERIAL_RW_SESSION = 0x4 | 0x2;

    private final NativePKCS11 module = new NativePKCS11();
    private NativePKCS11Slot slot;
    private NativePKCS11Session session;

    @BeforeEach
    void openAndLogin() throws PKCS11Exception {
        assertNotEquals(0L, module.loadPKCS11Library(SoftHsm.path()));
        module.libInitialize();
        slot = null;
        for (NativePKCS11Slot candidate : module.getSlotList(true)) {
            if (candidate.getTokenInfo().label.trim().equals(SoftHsm.LABEL)) {
                slot = candidate;
            }
        }
        assertNotNull(slot, "initialised token");
        session = slot.openSession(SERIAL_RW_SESSION, null, null);
        session.login(false, SoftHsm.USER_PIN);
    }

    @AfterEach
    void logoutAndClose() throws PKCS11Exception {
        session.logout();
        session.close();
        module.libFinalize();
    }

    /** A session RSA key pair; the private key is then found again by its label. */
    private NativePKCS11Object[] rsaKeyPair(String label) throws PKCS11Exception {
        Object[] pair = session.generateKeyPair(CKM_RSA_PKCS_KEY_PAIR_GEN, null,
                new int[] {CKA_TOKEN, CKA_ENCRYPT, CKA_VERIFY, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT, CKA_LABEL},
                new Object[] {false, true, true, 2048, BigInteger.valueOf(65537), label},
                new int[] {CKA_TOKEN, CKA_SIGN, CKA_DECRYPT, CKA_LABEL},
                new Object[] {false, true, true, label});
        session.findObjectsInit(new int[] {CKA_CLASS, CKA_LABEL}, new Object[] {CKO_PRIVATE_KEY, label});
        NativePKCS11Object privateKey = session.findObject();
        assertNull(session.findObject());
        session.findObjectsFinal();
        assertNotNull(privateKey);
        assertEquals(((NativePKCS11Object) pair[1]).getObjectID(), privateKey.getObjectID());
        return new NativePKCS11Object[] {(NativePKCS11Object) pair[0], privateKey};
    }

    private static PublicKey javaPublicKey(NativePKCS11Object publicKey) throws Exception {
        BigInteger modulus = new BigInteger(1, publicKey.getByteArrayAttributeValue(CKA_MODULUS));
        BigInteger exponent = new BigInteger(1, publicKey.getByteArrayAttributeValue(CKA_PUBLIC_EXPONENT));
        return KeyFactory.getInstance("RSA").generatePublic(new RSAPublicKeySpec(modulus, exponent));
    }

    @Test
    void signatureVerifiesInJava() throws Exception {
        NativePKCS11Object[] keys = rsaKeyPair("signing run");
        byte[] data = "the document to sign, and bytes past its length".getBytes(StandardCharsets.US_ASCII);
        int length = 21;
        session.signInit(CKM_SHA256_RSA_PKCS, null, keys[1]);
        // Length queries leave the operation active.
        assertEquals(256, session.sign(data, 0, length, null, 0));
        assertEquals(256, session.sign(data, 0, length, new byte[0], 0));
        byte[] signature = new byte[256];
        assertEquals(256, session.sign(data, 0, length, signature, 0));

        assertTrue(SoftHsm.verifiesInJava(javaPublicKey(keys[0]), data, 0, length, signature));
        // The operation ended with the real call.
        PKCS11Exception ended = assertThrows(PKCS11Exception.class, () -> session.sign(data, 0, length, null, 0));
        assertEquals(0x91, ended.getErrorCode(), "CKR_OPERATION_NOT_INITIALIZED");

        // A whole document of megabytes, its signature into an array longer than the signature.
        byte[] document = pattern(3 << 20);
        int documentLength = document.length - 1000;
        byte[] longSignature = filled(700, 0x55);
        session.signInit(CKM_SHA256_RSA_PKCS, null, keys[1]);
        assertEquals(256, session.sign(document, 0, documentLength, longSignature, 0));
        assertTrue(SoftHsm.verifiesInJava(javaPublicKey(keys[0]), document, 0, documentLength,
                Arrays.copyOf(longSignature, 256)));
        assertArrayEquals(filled(700 - 256, 0x55), Arrays.copyOfRange(longSignature, 256, 700));
    }

    private static byte[] filled(int length, int value) {
        byte[] bytes = new byte[length];
        Arrays.fill(bytes, (byte) value);
        return bytes;
    }

    private static byte[] pattern(int length) {
        byte[] bytes = new byte[length];
        for (int i = 0; i < length; i++) {
            bytes[i] = (byte) (i * 13 + (i >> 10));
        }
        return bytes;
    }

    @Test
    void rsaEncryptionMeetsTheInputLengthAsItsRoom() throws PKCS11Exception {
        NativePKCS11Object[] keys = rsaKeyPair("encryption");
        session.encryptInit(CKM_RSA_PKCS, null, keys[0]);
        PKCS11Exception tooSmall = assertThrows(PKCS11Exception.class,
                () -> session.encrypt(new byte[10], 0, 10, new byte[256], 0));
        assertEquals(0x150, tooSmall.getErrorCode(), "CKR_BUFFER_TOO_SMALL");
    }

    interface Round {
        void run() throws Exception;
    }

    /** Runs the round on eight threads until each has done `rounds` (or `stop` is set). */
    private static List<Future<Integer>> onEightThreads(ExecutorService pool, int rounds, AtomicBoolean stop,
            Round round) {
        List<Future<Integer>> runs = new ArrayList<>();
        for (int t = 0; t < 8; t++) {
            runs.add(pool.submit(() -> {
                int done = 0;
                while (done < rounds && !stop.get()) {
                    round.run();
                    done++;
                }
                return done;
            }));
        }
        return runs;
    }

    /**
     * Eight threads on mixed natives, each signing on a session of its own; then the module is
     * finalized and loaded again while they keep calling. The module is initialised without
     * threading arguments, so it is the bridge that keeps them apart.
     */
    @Test
    void eightThreadsAndAReloadWhileTheyCall() throws Exception {
        NativePKCS11Object[] keys = rsaKeyPair("threads");
        PublicKey publicKey = javaPublicKey(keys[0]);
        byte[] data = "signed on every thread".getBytes(StandardCharsets.US_ASCII);
        ExecutorService pool = Executors.newFixedThreadPool(8);
        AtomicInteger signatures = new AtomicInteger();
        long start = System.nanoTime();
        List<Future<Integer>> runs = onEightThreads(pool, 25, new AtomicBoolean(), () -> {
            NativePKCS11Session own = slot.openSession(SERIAL_RW_SESSION, null, null);
            own.getInfo();
            slot.getTokenInfo();
            own.findObjectsInit(new int[] {CKA_CLASS, CKA_LABEL}, new Object[] {CKO_PRIVATE_KEY, "threads"});
            NativePKCS11Object found = own.findObject();
            own.findObjectsFinal();
            assertNotNull(found);
            own.signInit(CKM_SHA256_RSA_PKCS, null, found);
            byte[] signature = new byte[256];
            assertEquals(256, own.sign(data, 0, data.length, signature, 0));
            assertTrue(SoftHsm.verifiesInJava(publicKey, data, 0, data.length, signature));
            signatures.incrementAndGet();
            own.close();
        });
        int rounds = 0;
        for (Future<Integer> run : runs) {
            rounds += run.get();
        }
        long mixedNanos = System.nanoTime() - start;
        assertEquals(200, rounds);
        assertEquals(200, signatures.get());

        // Calls that need no session of their own go on across the reload. Each succeeds, or
        // meets the bridge's answer for a module not initialised, while the reload is under way.
        AtomicInteger reloads = new AtomicInteger();  // odd while one is under way
        AtomicInteger calls = new AtomicInteger();
        AtomicInteger notInitialised = new AtomicInteger();
        AtomicBoolean stop = new AtomicBoolean();
        NativePKCS11Slot tokenSlot = slot;
        runs = onEightThreads(pool, Integer.MAX_VALUE, stop, () -> {
            int before = reloads.get();
            try {
                module.getSlotList(true);
                tokenSlot.getTokenInfo();
                tokenSlot.getMechanismList();
                module.getInfo();
                calls.addAndGet(4);
            } catch (PKCS11Exception e) {
                assertTrue(before % 2 == 1 || reloads.get() != before, "a failure outside the reload");
                assertEquals("Internal error", e.getMessage());
                notInitialised.incrementAndGet();
            }
        });
        Thread.sleep(100);
        reloads.incrementAndGet();
        module.libFinalize();
        Thread.sleep(50);
        assertNotEquals(0L, module.loadPKCS11Library(SoftHsm.path()));
        module.libInitialize();
        reloads.incrementAndGet();
        Thread.sleep(100);
        stop.set(true);
        for (Future<Integer> run : runs) {
            run.get();
        }
        pool.shutdown();
        assertTrue(notInitialised.get() > 0, "calls met the finalized module");
        // The reloaded module serves the suite's signing run again.
        session = slot.openSession(SERIAL_RW_SESSION, null, null);
        session.login(false, SoftHsm.USER_PIN);
        System.out.printf("threads: %d rounds of 8 calls (%d signatures) on 8 threads in %d ms; across the reload "
                + "%d calls succeeded, %d rounds met the module not initialised%n", rounds, signatures.get(),
                mixedNanos / 1_000_000, calls.get(), notInitialised.get());
    }

    private NativePKCS11Object aesKey(boolean wrapping) throws PKCS11Exception {
        return session.generateKey(CKM_AES_KEY_GEN, null,
                new int[] {CKA_CLASS, CKA_KEY_TYPE, CKA_VALUE_LEN, CKA_TOKEN, CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP,
                        CKA_UNWRAP, CKA_SENSITIVE, CKA_EXTRACTABLE},
                new Object[] {CKO_SECRET_KEY, CKK_AES, 32, false, true, true, wrapping, wrapping, false, true});
    }

    @Test
    void aesEcbRoundTripProcessesOnlyTheGivenPrefix() throws Exception {
        NativePKCS11Object key = aesKey(false);
        byte[] value = key.getByteArrayAttributeValue(CKA_VALUE);
        assertEquals(32, value.length);
        byte[] data = new byte[48];
        Arrays.fill(data, (byte) 0x3C);
        for (int i = 0; i < 32; i++) {
            data[i] = (byte) (i * 7);
        }
        byte[] encrypted = new byte[48];
        Arrays.fill(encrypted, (byte) 0x55);
        session.encryptInit(CKM_AES_ECB, null, key);
        assertEquals(32, session.encrypt(data, 0, 32, encrypted, 0));
        Cipher reference = Cipher.getInstance("AES/ECB/NoPadding");
        reference.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(value, "AES"));
        assertArrayEquals(reference.doFinal(data, 0, 32), Arrays.copyOf(encrypted, 32));
        assertEquals((byte) 0x55, encrypted[47]);

        session.decryptInit(CKM_AES_ECB, null, key);
        assertEquals(32, session.decrypt(encrypted, 0, 32, null, 0));
        byte[] decrypted = new byte[40];
        assertEquals(32, session.decrypt(encrypted, 0, 32, decrypted, 0));
        assertArrayEquals(Arrays.copyOf(data, 32), Arrays.copyOf(decrypted, 32));

        // A megabyte each way, through output arrays longer than the bytes produced.
        int largeLength = 1 << 20;
        byte[] largeData = pattern(largeLength + 48);
        byte[] largeEncrypted = filled(largeLength + 100, 0x55);
        session.encryptInit(CKM_AES_ECB, null, key);
        assertEquals(largeLength, session.encrypt(largeData, 0, largeLength, largeEncrypted, 0));
        assertArrayEquals(reference.doFinal(largeData, 0, largeLength), Arrays.copyOf(largeEncrypted, largeLength));
        assertArrayEquals(filled(100, 0x55), Arrays.copyOfRange(largeEncrypted, largeLength, largeLength + 100));
        byte[] largeDecrypted = filled(largeLength + 77, 0x66);
        session.decryptInit(CKM_AES_ECB, null, key);
        assertEquals(largeLength, session.decrypt(largeEncrypted, 0, largeLength, largeDecrypted, 0));
        assertArrayEquals(Arrays.copyOf(largeData, largeLength), Arrays.copyOf(largeDecrypted, largeLength));
        assertArrayEquals(filled(77, 0x66), Arrays.copyOfRange(largeDecrypted, largeLength, largeLength + 77));
    }

    @Test
    void wrappedKeyUnwrapsToTheSameKey() throws PKCS11Exception {
        NativePKCS11Object wrappingKey = aesKey(true);
        NativePKCS11Object key = aesKey(false);
        byte[] data = new byte[16];
        Arrays.fill(data, (byte) 0x21);
        byte[] encrypted = new byte[16];
        session.encryptInit(CKM_AES_ECB, null, key);
        session.encrypt(data, 0, 16, encrypted, 0);

        PKCS11Exception tooSmall = assertThrows(PKCS11Exception.class,
                () -> session.wrapKey(CKM_AES_KEY_WRAP, null, wrappingKey, key, new byte[39], 0));
        assertEquals(0x150, tooSmall.getErrorCode());
        byte[] wrapped = new byte[64];
        int wrappedLength = session.wrapKey(CKM_AES_KEY_WRAP, null, wrappingKey, key, wrapped, 0);
        assertEquals(40, wrappedLength);
        NativePKCS11Object unwrapped = session.unwrapKey(CKM_AES_KEY_WRAP, null, wrappingKey, wrapped, 0,
                wrappedLength, new int[] {CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN, CKA_DECRYPT},
                new Object[] {CKO_SECRET_KEY, CKK_AES, false, true});
        assertNotEquals(key.getObjectID(), unwrapped.getObjectID());
        byte[] decrypted = new byte[16];
        session.decryptInit(CKM_AES_ECB, null, unwrapped);
        assertEquals(16, session.decrypt(encrypted, 0, 16, decrypted, 0));
        assertArrayEquals(data, decrypted);

        // Into and out of arrays far longer than the wrapped key: only its bytes travel.
        byte[] largeWrapped = filled(4096, 0x55);
        assertEquals(40, session.wrapKey(CKM_AES_KEY_WRAP, null, wrappingKey, key, largeWrapped, 0));
        assertArrayEquals(Arrays.copyOf(wrapped, 40), Arrays.copyOf(largeWrapped, 40));
        assertArrayEquals(filled(4096 - 40, 0x55), Arrays.copyOfRange(largeWrapped, 40, 4096));
        NativePKCS11Object unwrappedAgain = session.unwrapKey(CKM_AES_KEY_WRAP, null, wrappingKey, largeWrapped, 0,
                40, new int[] {CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN, CKA_DECRYPT},
                new Object[] {CKO_SECRET_KEY, CKK_AES, false, true});
        Arrays.fill(decrypted, (byte) 0);
        session.decryptInit(CKM_AES_ECB, null, unwrappedAgain);
        assertEquals(16, session.decrypt(encrypted, 0, 16, decrypted, 0));
        assertArrayEquals(data, decrypted);
    }
}
