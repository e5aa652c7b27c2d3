package it.vantrel.pkcs11.test;

import java.security.GeneralSecurityException;
import java.security.PublicKey;
import java.security.Signature;

/** The SoftHSM2 token the suites' fixture initialises. */
public final class SoftHsm {
    public static final String LABEL = "vantrel";
    public static final String USER_PIN = "1234";
    public static final String SO_PIN = "12345678";

    private SoftHsm() {
    }

    public static String path() {
        return System.getProperty("vantrel.softhsm");
    }

    /** Whether Java's own RSA verifies the token's SHA-256 signature of data[offset, offset + length). */
    public static boolean verifiesInJava(PublicKey key, byte[] data, int offset, int length, byte[] signature)
            throws GeneralSecurityException {
        Signature verifier = Signature.getInstance("SHA256withRSA");
        verifier.initVerify(key);
        verifier.update(data, offset, length);
        return verifier.verify(signature);
    }
}
