package it.vantrel.pkcs11.nat;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11SessionInfo;

/**
 * A session on a slot. Arguments named "parameter", "offset" or "reserved" are accepted and
 * not used by the bridge.
 */
public class NativePKCS11Session {
    private final NativePKCS11Slot slot;
    private final int sessionID;

    public NativePKCS11Session(NativePKCS11Slot slot, int sessionID) {
        this.slot = slot;
        this.sessionID = sessionID;
    }

    public NativePKCS11Slot getSlot() {
        return slot;
    }

    public int getSessionID() {
        return sessionID;
    }

    // Life cycle and authentication.

    public native void close() throws PKCS11Exception;

    public native PKCS11SessionInfo getInfo() throws PKCS11Exception;

    /** Logs in as security officer (true) or user (false). */
    public native void login(boolean securityOfficer, String pin) throws PKCS11Exception;

    public native void logout() throws PKCS11Exception;

    public native void initPIN(String pin) throws PKCS11Exception;

    public native void setPIN(String oldPin, String newPin) throws PKCS11Exception;

    /** Logs in through the token's protected authentication path (PIN pad). */
    public native void loginAuthPath(boolean securityOfficer) throws PKCS11Exception;

    public native byte[] getOperationState() throws PKCS11Exception;

    public native void setOperationState(byte[] state, NativePKCS11Object encryptionKey,
            NativePKCS11Object authenticationKey) throws PKCS11Exception;

    // Object search and creation.

    public native void findObjectsInit(int[] types, Object[] values) throws PKCS11Exception;

    public native NativePKCS11Object findObject() throws PKCS11Exception;

    public native void findObjectsFinal() throws PKCS11Exception;

    public native NativePKCS11Object createObject(int[] types, Object[] values) throws PKCS11Exception;

    public native void installCertificate(int vendorValue, int reserved, byte[] certificate, int offset, int length,
            String subject, String serialNumber, String issuer, String label) throws PKCS11Exception;

    // Key pairs.

    public native Object[] generateKeyPair(int mechanism, Object parameter, int[] publicTypes,
            Object[] publicValues, int[] privateTypes, Object[] privateValues) throws PKCS11Exception;

    public native Object[] generateKeyPairOB(int mechanism, boolean identity) throws PKCS11Exception;

    // Single-part cryptographic operations.

    public native void signInit(int mechanism, Object parameter, NativePKCS11Object key) throws PKCS11Exception;

    public native int sign(byte[] data, int offset, int length, byte[] signature, int signatureOffset)
            throws PKCS11Exception;

    public native void encryptInit(int mechanism, Object parameter, NativePKCS11Object key) throws PKCS11Exception;

    public native int encrypt(byte[] data, int offset, int length, byte[] encrypted, int encryptedOffset)
            throws PKCS11Exception;

    public native void decryptInit(int mechanism, Object parameter, NativePKCS11Object key) throws PKCS11Exception;

    public native int decrypt(byte[] encrypted, int offset, int length, byte[] data, int dataOffset)
            throws PKCS11Exception;

    // Operations the bridge refuses.

    public native void signUpdate(byte[] part, int offset, int length) throws PKCS11Exception;

    public native int signFinal(byte[] signature, int offset) throws PKCS11Exception;

    public native int encryptUpdate(byte[] part, int offset, int length, byte[] encrypted, int encryptedOffset)
            throws PKCS11Exception;

    public native int encryptFinal(byte[] encrypted, int offset) throws PKCS11Exception;

    public native int decryptUpdate(byte[] encrypted, int offset, int length, byte[] part, int partOffset)
            throws PKCS11Exception;

    public native int decryptFinal(byte[] part, int offset) throws PKCS11Exception;

    public native void digestInit(int mechanism, Object parameter) throws PKCS11Exception;

    public native int digest(byte[] data, int offset, int length, byte[] digest, int digestOffset)
            throws PKCS11Exception;

    public native void digestUpdate(byte[] part, int offset, int length) throws PKCS11Exception;

    public native void digestKey(NativePKCS11Object key) throws PKCS11Exception;

    public native int digestFinal(byte[] digest, int offset) throws PKCS11Exception;

    public native void signRecoverInit(int mechanism, Object parameter, NativePKCS11Object key)
            throws PKCS11Exception;

    public native int signRecover(byte[] data, int offset, int length, byte[] signature, int signatureOffset)
            throws PKCS11Exception;

    public native void verifyInit(int mechanism, Object parameter, NativePKCS11Object key) throws PKCS11Exception;

    public native boolean verify(byte[] data, int offset, int length, byte[] signature, int signatureOffset,
            int signatureLength) throws PKCS11Exception;

    public native void verifyUpdate(byte[] part, int offset, int length) throws PKCS11Exception;

    public native boolean verifyFinal(byte[] signature, int offset, int length) throws PKCS11Exception;

    public native void verifyRecoverInit(int mechanism, Object parameter, NativePKCS11Object key)
            throws PKCS11Exception;

    public native int verifyRecover(byte[] signature, int offset, int length, byte[] data, int dataOffset)
            throws PKCS11Exception;

    public native int digestEncryptUpdate(byte[] part, int offset, int length, byte[] encrypted,
            int encryptedOffset) throws PKCS11Exception;

    public native int decryptDigestUpdate(byte[] encrypted, int offset, int length, byte[] part, int partOffset)
            throws PKCS11Exception;

    public native int signEncryptUpdate(byte[] part, int offset, int length, byte[] encrypted,
            int encryptedOffset) throws PKCS11Exception;

    public native int decryptVerifyUpdate(byte[] encrypted, int offset, int length, byte[] part, int partOffset)
            throws PKCS11Exception;

    // Key management and random.

    public native NativePKCS11Object generateKey(int mechanism, Object parameter, int[] types, Object[] values)
            throws PKCS11Exception;

    public native int wrapKey(int mechanism, Object parameter, NativePKCS11Object wrappingKey,
            NativePKCS11Object key, byte[] wrapped, int offset) throws PKCS11Exception;

    public native NativePKCS11Object unwrapKey(int mechanism, Object parameter, NativePKCS11Object unwrappingKey,
            byte[] wrapped, int offset, int wrappedLength, int[] types, Object[] values) throws PKCS11Exception;

    public native NativePKCS11Object deriveKey(int mechanism, Object parameter, NativePKCS11Object baseKey,
            int[] types, Object[] values) throws PKCS11Exception;

    public native void seedRandom(byte[] seed, int offset, int length) throws PKCS11Exception;

    public native void generateRandom(byte[] random, int offset, int length) throws PKCS11Exception;

    public native boolean getFunctionStatus() throws PKCS11Exception;

    public native void cancelFunction() throws PKCS11Exception;

    // Card-vendor extensions.

    /** Logs in with the PIN as raw bytes. */
    public native void logintirvex(boolean securityOfficer, byte[] pin) throws PKCS11Exception;

    public native void setPINtirvex(byte[] oldPin, byte[] newPin) throws PKCS11Exception;

    public native NativePKCS11Object getIdentrusObject() throws PKCS11Exception;

    public native int getCardStatus() throws PKCS11Exception;

    public native void setCardStatus(int status) throws PKCS11Exception;
}
