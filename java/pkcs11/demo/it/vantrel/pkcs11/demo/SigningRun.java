package it.vantrel.pkcs11.demo;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.Signature;
import java.security.spec.RSAPublicKeySpec;

/**
 * The typical signing run through p11bridge: load the module, open a session on the token with
 * the given label, log in, make an RSA key pair on the token, find its private key, sign a
 * text with SHA-256 and RSA PKCS#1, and verify the signature in Java with the public key read
 * back through the bridge.
 */
public final class SigningRun {
    private static final int CKA_CLASS = 0x0;
    private static final int CKA_TOKEN = 0x1;
    private static final int CKA_LABEL = 0x3;
    private static final int CKA_SIGN = 0x108;
    private static final int CKA_VERIFY = 0x10A;
    private static final int CKA_MODULUS = 0x120;
    private static final int CKA_MODULUS_BITS = 0x121;
    private static final int CKA_PUBLIC_EXPONENT = 0x122;
    private static final int CKO_PRIVATE_KEY = 3;
    private static final int CKM_RSA_PKCS_KEY_PAIR_GEN = 0x0;
    private static final int CKM_SHA256_RSA_PKCS = 0x40;
    private static final int SERIAL_RW_SESSION = 0x4 | 0x2;
    private static final String KEY_LABEL = "demo signing key";

    private SigningRun() {
    }

    public static void main(String[] args) {
        if (args.length != 4) {
            System.err.println("usage: SigningRun <Cryptoki module> <token label> <user PIN> <text to sign>");
            System.exit(2);
        }
        NativePKCS11 module = new NativePKCS11();
        try {
            module.loadPKCS11Library(args[0]);
            module.libInitialize();
            try {
                boolean verified = run(module, args[1], args[2], args[3].getBytes(StandardCharsets.UTF_8));
                System.exit(verified ? 0 : 1);
            } finally {
                module.libFinalize();
            }
        } catch (PKCS11Exception e) {
            System.err.println("failed: " + e.getMessage());
            System.exit(1);
        } catch (GeneralSecurityException e) {
            System.err.println("verification failed: " + e);
            System.exit(1);
        }
    }

    private static NativePKCS11Slot tokenSlot(NativePKCS11 module, String label) throws PKCS11Exception {
        NativePKCS11Slot[] slots = module.getSlotList(true);
        if (slots != null) {
            for (NativePKCS11Slot slot : slots) {
                if (slot.getTokenInfo().label.trim().equals(label)) {
                    return slot;
                }
            }
        }
        throw new PKCS11Exception("no token labelled '" + label + "'");
    }

    private static boolean run(NativePKCS11 module, String label, String pin, byte[] text)
            throws PKCS11Exception, GeneralSecurityException {
        NativePKCS11Slot slot = tokenSlot(module, label);
        System.out.println("token '" + label + "' in slot " + Integer.toUnsignedString(slot.getSlotID()));
        NativePKCS11Session session = slot.openSession(SERIAL_RW_SESSION, null, null);
        try {
            session.login(false, pin);
            System.out.println("logged in");
            Object[] pair = session.generateKeyPair(CKM_RSA_PKCS_KEY_PAIR_GEN, null,
                    new int[] {CKA_TOKEN, CKA_VERIFY, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT, CKA_LABEL},
                    new Object[] {true, true, 2048, BigInteger.valueOf(65537), KEY_LABEL},
                    new int[] {CKA_TOKEN, CKA_SIGN, CKA_LABEL}, new Object[] {true, true, KEY_LABEL});
            NativePKCS11Object publicKey = (NativePKCS11Object) pair[0];
            System.out.println("RSA key pair '" + KEY_LABEL + "' generated on the token");

            session.findObjectsInit(new int[] {CKA_CLASS, CKA_LABEL}, new Object[] {CKO_PRIVATE_KEY, KEY_LABEL});
            NativePKCS11Object privateKey = session.findObject();
            session.findObjectsFinal();
            if (privateKey == null) {
                throw new PKCS11Exception("private key not found");
            }
            System.out.println("private key found: object " + Integer.toUnsignedString(privateKey.getObjectID()));

            session.signInit(CKM_SHA256_RSA_PKCS, null, privateKey);
            byte[] signature = new byte[session.sign(text, 0, text.length, null, 0)];
            int length = session.sign(text, 0, text.length, signature, 0);
            System.out.println("signed " + text.length + " bytes with SHA256-RSA-PKCS: " + length + "-byte signature");
            System.out.println(hex(signature, length));

            BigInteger modulus = new BigInteger(1, publicKey.getByteArrayAttributeValue(CKA_MODULUS));
            BigInteger exponent = new BigInteger(1, publicKey.getByteArrayAttributeValue(CKA_PUBLIC_EXPONENT));
            PublicKey javaKey = KeyFactory.getInstance("RSA").generatePublic(new RSAPublicKeySpec(modulus, exponent));
            Signature verifier = Signature.getInstance("SHA256withRSA");
            verifier.initVerify(javaKey);
            verifier.update(text);
            boolean verified = verifier.verify(signature);
            System.out.println("signature verified in Java (SHA256withRSA, " + modulus.bitLength() + "-bit key): "
                    + (verified ? "VALID" : "INVALID"));
            session.logout();
            return verified;
        } finally {
            session.close();
        }
    }

    private static String hex(byte[] bytes, int length) {
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < length; i++) {
            out.append(String.format("%02x", bytes[i] & 0xFF));
            if (i % 32 == 31 && i + 1 < length) {
                out.append('\n');
            }
        }
        return out.toString();
    }
}
