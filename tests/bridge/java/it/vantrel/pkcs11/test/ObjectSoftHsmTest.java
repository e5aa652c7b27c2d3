package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.spec.RSAPublicKeySpec;
import java.util.ArrayList;
import java.util.Calendar;
import java.util.GregorianCalendar;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Attribute templates, objects, search and key pairs end to end on the SoftHSM2 token. */
class ObjectSoftHsmTest {
    static final int CKO_DATA = 0;
    static final int CKO_CERTIFICATE = 1;
    static final int CKO_PUBLIC_KEY = 2;
    static final int CKO_SECRET_KEY = 4;
    static final int CKK_GENERIC_SECRET = 0x10;
    static final int CKA_CLASS = 0x0;
    static final int CKA_TOKEN = 0x1;
    static final int CKA_PRIVATE = 0x2;
    static final int CKA_LABEL = 0x3;
    static final int CKA_APPLICATION = 0x10;
    static final int CKA_VALUE = 0x11;
    static final int CKA_CERTIFICATE_TYPE = 0x80;
    static final int CKA_ISSUER = 0x81;
    static final int CKA_SERIAL_NUMBER = 0x82;
    static final int CKA_KEY_TYPE = 0x100;
    static final int CKA_SUBJECT = 0x101;
    static final int CKA_ID = 0x102;
    static final int CKA_SIGN = 0x108;
    static final int CKA_VERIFY = 0x10A;
    static final int CKA_START_DATE = 0x110;
    static final int CKA_END_DATE = 0x111;
    static final int CKA_MODULUS = 0x120;
    static final int CKA_MODULUS_BITS = 0x121;
    static final int CKA_PUBLIC_EXPONENT = 0x122;
    static final int CKM_RSA_PKCS_KEY_PAIR_GEN = 0x0;
    static final int CKM_SHA256_RSA_PKCS = 0x40;

    private final NativePKCS11 module = new NativePKCS11();
    private NativePKCS11Session session;
    private final List<NativePKCS11Object> tokenObjects = new ArrayList<>();
    // Labels unique to the run: the token outlives a single test.
    private final String tag = "t" + System.nanoTime();

    @BeforeEach
    void openSession() throws PKCS11Exception {
        module.loadPKCS11Library(SoftHsm.path());
        module.libInitialize();
        NativePKCS11Slot slot = null;
        for (NativePKCS11Slot candidate : module.getSlotList(true)) {
            if (candidate.getTokenInfo().label.trim().equals(SoftHsm.LABEL)) {
                slot = candidate;
            }
        }
        assertNotNull(slot, "initialised token");
        session = slot.openSession(6, null, null);
        session.login(false, SoftHsm.USER_PIN);
    }

    @AfterEach
    void closeSession() throws PKCS11Exception {
        try {
            for (NativePKCS11Object object : tokenObjects) {
                object.destroy();
            }
        } finally {
            module.libFinalize();
        }
    }

    private static void assertCode(int code, Executable call) {
        PKCS11Exception e = assertThrows(PKCS11Exception.class, call);
        assertTrue(e.hasErrorCode(), e.getMessage());
        assertEquals(code, e.getErrorCode());
    }

    private List<NativePKCS11Object> find(int[] types, Object[] values) throws PKCS11Exception {
        List<NativePKCS11Object> found = new ArrayList<>();
        session.findObjectsInit(types, values);
        for (NativePKCS11Object object = session.findObject(); object != null; object = session.findObject()) {
            found.add(object);
        }
        // The end of a search stays the end.
        assertNull(session.findObject());
        session.findObjectsFinal();
        return found;
    }

    @Test
    void rsaKeyPairFromJavaTemplatesRebuildsInJava() throws PKCS11Exception, GeneralSecurityException {
        byte[] id = {0x01, 0x7F, (byte) 0x80};
        Object[] pair = session.generateKeyPair(CKM_RSA_PKCS_KEY_PAIR_GEN, null,
                new int[] {CKA_TOKEN, CKA_LABEL, CKA_ID, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT, CKA_VERIFY},
                new Object[] {true, tag, id, 2048, BigInteger.valueOf(65537), true},
                new int[] {CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_ID, CKA_SIGN},
                new Object[] {false, true, tag + "-private", id, true});
        NativePKCS11Object publicKey = (NativePKCS11Object) pair[0];
        NativePKCS11Object privateKey = (NativePKCS11Object) pair[1];
        tokenObjects.add(publicKey);
        assertEquals(Integer.valueOf(CKO_PUBLIC_KEY), publicKey.getAttributeValue(CKA_CLASS));
        assertEquals(Integer.valueOf(3), privateKey.getAttributeValue(CKA_CLASS));
        assertEquals(Integer.valueOf(0), publicKey.getAttributeValue(CKA_KEY_TYPE));
        assertEquals(Integer.valueOf(2048), publicKey.getAttributeValue(CKA_MODULUS_BITS));
        assertEquals(Boolean.TRUE, publicKey.getAttributeValue(CKA_TOKEN));
        assertEquals(Boolean.FALSE, privateKey.getAttributeValue(CKA_TOKEN));
        assertEquals(tag, publicKey.getAttributeValue(CKA_LABEL));
        assertArrayEquals(id, (byte[]) privateKey.getAttributeValue(CKA_ID));

        BigInteger modulus = (BigInteger) publicKey.getAttributeValue(CKA_MODULUS);
        BigInteger exponent = publicKey.getBigIntegerAttributeValue(CKA_PUBLIC_EXPONENT);
        assertEquals(1, modulus.signum());
        assertEquals(2048, modulus.bitLength());
        assertEquals(BigInteger.valueOf(65537), exponent);
        // The key rebuilt from the two numbers verifies what the token's private key signed.
        PublicKey rebuilt = KeyFactory.getInstance("RSA").generatePublic(new RSAPublicKeySpec(modulus, exponent));
        byte[] data = "object suite".getBytes();
        session.signInit(CKM_SHA256_RSA_PKCS, null, privateKey);
        byte[] signature = new byte[256];
        assertEquals(256, session.sign(data, 0, data.length, signature, 0));
        assertTrue(SoftHsm.verifiesInJava(rebuilt, data, 0, data.length, signature));
    }

    @Test
    void datesReadBackFromAKeyObject() throws PKCS11Exception {
        // SoftHSM2 keeps start and end dates on keys only (a data object refuses them with 0x12),
        // and reads them back only from public ones.
        GregorianCalendar start = new GregorianCalendar(2004, Calendar.MAY, 7);
        GregorianCalendar end = new GregorianCalendar(2030, Calendar.DECEMBER, 31);
        int[] types = {CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN, CKA_PRIVATE, CKA_VALUE, CKA_START_DATE, CKA_END_DATE};
        assertCode(0x12, () -> session.createObject(new int[] {CKA_CLASS, CKA_TOKEN, CKA_START_DATE},
                new Object[] {CKO_DATA, false, start.getTime()}));
        NativePKCS11Object key = session.createObject(types,
                new Object[] {CKO_SECRET_KEY, CKK_GENERIC_SECRET, false, false, new byte[16], start.getTime(),
                    end.getTime()});
        assertEquals(start.getTime(), key.getDateAttributeValue(CKA_START_DATE));
        assertEquals(end.getTime(), key.getDateAttributeValue(CKA_END_DATE));
        assertEquals(end.getTime(), key.getAttributeValue(CKA_END_DATE));
        assertEquals(start.getTime(), key.getAttributeValue(CKA_START_DATE));
        // Several attributes written in one call, read back.
        GregorianCalendar later = new GregorianCalendar(2031, Calendar.JANUARY, 2);
        key.setAttributeValues(new int[] {CKA_LABEL, CKA_ID, CKA_END_DATE},
                new Object[] {tag, new byte[] {4, 2}, later.getTime()});
        assertEquals(tag, key.getAttributeValue(CKA_LABEL));
        assertArrayEquals(new byte[] {4, 2}, (byte[]) key.getAttributeValue(CKA_ID));
        assertEquals(later.getTime(), key.getAttributeValue(CKA_END_DATE));
    }

    @Test
    void dataObjectLabelsWritesSizeAndDestroy() throws PKCS11Exception {
        NativePKCS11Object data = session.createObject(
                new int[] {CKA_CLASS, CKA_TOKEN, CKA_LABEL, CKA_APPLICATION, CKA_VALUE},
                new Object[] {CKO_DATA, false, "", tag, new byte[] {1, 2, 3}});
        assertNotNull(data);
        assertEquals("", data.getStringAttributeValue(CKA_LABEL));
        assertEquals("", data.getAttributeValue(CKA_LABEL));
        assertEquals(tag, data.getAttributeValue(CKA_APPLICATION));

        data.setAttributeValue(CKA_LABEL, "renamed");
        assertEquals("renamed", data.getStringAttributeValue(CKA_LABEL));
        data.setAttributeValues(new int[] {CKA_LABEL}, new Object[] {"again"});
        assertEquals("again", data.getAttributeValue(CKA_LABEL));
        assertArrayEquals(new byte[] {1, 2, 3}, data.getByteArrayAttributeValue(CKA_VALUE));
        // A value that cannot be converted changes nothing.
        data.setAttributeValues(new int[] {CKA_LABEL, CKA_VALUE}, new Object[] {"lost", 2.5f});
        assertEquals("again", data.getStringAttributeValue(CKA_LABEL));
        assertCode(0x10, () -> data.setBoolAttributeValue(CKA_TOKEN, true));
        assertCode(0x12, () -> data.getIntAttributeValue(CKA_MODULUS_BITS));

        // A value of 1 MB travels whole both ways.
        byte[] large = new byte[1 << 20];
        for (int i = 0; i < large.length; i++) {
            large[i] = (byte) (i * 31 + (i >> 9));
        }
        NativePKCS11Object largeData = session.createObject(new int[] {CKA_CLASS, CKA_TOKEN, CKA_VALUE},
                new Object[] {CKO_DATA, false, large});
        assertArrayEquals(large, largeData.getByteArrayAttributeValue(CKA_VALUE));
        assertArrayEquals(large, (byte[]) largeData.getAttributeValue(CKA_VALUE));
        largeData.destroy();

        // SoftHSM2 reports the size as unavailable; it reaches Java as -1 without an exception.
        assertEquals(-1, data.size());
        data.destroy();
        assertCode(0x82, () -> data.getStringAttributeValue(CKA_LABEL));
    }

    @Test
    void searchByLabelByClassAndWithoutTemplate() throws PKCS11Exception {
        NativePKCS11Object first = session.createObject(new int[] {CKA_CLASS, CKA_TOKEN, CKA_LABEL},
                new Object[] {CKO_DATA, false, tag});
        NativePKCS11Object second = session.createObject(new int[] {CKA_CLASS, CKA_TOKEN, CKA_LABEL},
                new Object[] {CKO_DATA, false, tag});
        session.createObject(new int[] {CKA_CLASS, CKA_TOKEN, CKA_LABEL}, new Object[] {CKO_DATA, false, tag + "x"});

        Set<Integer> byLabel = handles(find(new int[] {CKA_LABEL}, new Object[] {tag}));
        assertEquals(Set.of(first.getObjectID(), second.getObjectID()), byLabel);
        List<NativePKCS11Object> data = find(new int[] {CKA_CLASS}, new Object[] {CKO_DATA});
        assertTrue(handles(data).containsAll(byLabel));
        for (NativePKCS11Object object : data) {
            assertEquals(Integer.valueOf(CKO_DATA), object.getAttributeValue(CKA_CLASS));
            assertEquals(session, object.getSession());
        }
        // Two null arrays list every visible object, each once.
        List<NativePKCS11Object> all = find(null, null);
        assertEquals(all.size(), handles(all).size());
        assertTrue(handles(all).containsAll(handles(data)));
        assertEquals(handles(all), handles(find(new int[0], new Object[0])));
        assertEquals(List.of(), find(new int[] {CKA_LABEL}, new Object[] {tag + "-none"}));
    }

    private static Set<Integer> handles(List<NativePKCS11Object> objects) {
        Set<Integer> out = new HashSet<>();
        for (NativePKCS11Object object : objects) {
            out.add(object.getObjectID());
        }
        return out;
    }

    /** Runs a program to its successful end; its output, read as UTF-8. */
    static String run(String... command) throws IOException, InterruptedException {
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        String output = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(process.waitFor(60, TimeUnit.SECONDS) && process.exitValue() == 0, output);
        return output;
    }

    /** A real certificate, made by openssl for this run, DER-encoded. */
    static byte[] makeCertificate(Path folder) throws IOException, InterruptedException {
        Path key = folder.resolve("key.pem");
        Path certificate = folder.resolve("certificate.der");
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key.toString(), "-out",
                certificate.toString(), "-outform", "DER", "-days", "2", "-subj", "/CN=Vantrel object suite/O=Vantrel");
        return Files.readAllBytes(certificate);
    }

    /** pkcs11-tool (Debian opensc) logged in on the suite's token; arguments in shell words. */
    private static String pkcs11Tool(String arguments) throws IOException, InterruptedException {
        // Through the shell, so that printf makes the label's bytes whatever the JVM's locale.
        return run("sh", "-c", "pkcs11-tool --module " + SoftHsm.path() + " --token-label " + SoftHsm.LABEL
                + " --login --pin " + SoftHsm.USER_PIN + " " + arguments);
    }

    @Test
    void labelsOutsideTheBasicPlaneReadRightInPkcs11Tool() throws Exception {
        // Written by the bridge: pkcs11-tool prints a label as a C string, its bytes up to a zero byte.
        String written = tag + "w\ud83d\ude00\u0000z";
        tokenObjects.add(session.createObject(new int[] {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_VALUE},
                new Object[] {CKO_DATA, true, false, written, new byte[] {1}}));
        String listing = pkcs11Tool("-O");
        assertTrue(listing.contains("'" + tag + "w\ud83d\ude00'"), listing);
        // Written by pkcs11-tool (F0 9F 98 80 is U+1F600), found and read by the bridge.
        Path value = Files.createTempFile(Paths.get(System.getenv("BRIDGE_WORK_DIR")), "data", ".bin");
        Files.write(value, new byte[] {7});
        pkcs11Tool("--write-object " + value + " --type data --label \"$(printf '" + tag
                + "r\\360\\237\\230\\200')\"");
        String label = tag + "r\ud83d\ude00";
        List<NativePKCS11Object> found = find(new int[] {CKA_LABEL}, new Object[] {label});
        tokenObjects.addAll(found);
        assertEquals(1, found.size());
        assertEquals(label, found.get(0).getStringAttributeValue(CKA_LABEL));
    }

    @Test
    void certificateObjectsCreatedAndInstalled() throws Exception {
        Path folder = Files.createTempDirectory(Paths.get(System.getenv("BRIDGE_WORK_DIR")), "certificate");
        byte[] der = makeCertificate(folder);
        X509Certificate parsed = (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(der));
        NativePKCS11Object created = session.createObject(
                new int[] {CKA_CLASS, CKA_CERTIFICATE_TYPE, CKA_TOKEN, CKA_LABEL, CKA_SUBJECT, CKA_ISSUER,
                    CKA_SERIAL_NUMBER, CKA_VALUE},
                new Object[] {CKO_CERTIFICATE, 0, false, tag, parsed.getSubjectX500Principal().getEncoded(),
                    parsed.getIssuerX500Principal().getEncoded(), parsed.getSerialNumber().toByteArray(), der});
        List<NativePKCS11Object> found = find(new int[] {CKA_CLASS, CKA_LABEL}, new Object[] {CKO_CERTIFICATE, tag});
        assertEquals(List.of(created.getObjectID()), new ArrayList<>(handles(found)));
        NativePKCS11Object certificate = found.get(0);
        assertEquals(Integer.valueOf(CKO_CERTIFICATE), certificate.getAttributeValue(CKA_CLASS));
        assertArrayEquals(der, (byte[]) certificate.getAttributeValue(CKA_VALUE));
        assertArrayEquals(parsed.getSubjectX500Principal().getEncoded(),
                (byte[]) certificate.getAttributeValue(CKA_SUBJECT));

        // SoftHSM2 does not know the card's vendor attribute 0x80002000.
        assertCode(0x12, () -> session.installCertificate(1, 0, der, 0, der.length, "subject", "01", "issuer", tag));
    }

    @Test
    void fixedKeyPairsAreRefusedWithTheModulesCode() {
        // The card's vendor attribute on the private key is unknown to SoftHSM2.
        PKCS11Exception identity = assertThrows(PKCS11Exception.class,
                () -> session.generateKeyPairOB(CKM_RSA_PKCS_KEY_PAIR_GEN, true));
        assertEquals(0x12, identity.getErrorCode());
        assertCode(0x12, () -> session.generateKeyPairOB(CKM_RSA_PKCS_KEY_PAIR_GEN, false));
    }
}
