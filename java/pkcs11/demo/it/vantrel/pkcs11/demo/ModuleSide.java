package it.vantrel.pkcs11.demo;

/**
 * The Cryptoki calls a compatibility dump makes, as one bridge to a module answers them. Texts
 * come back as the bytes the module wrote (null where the bridge gave no text), numbers as the
 * unsigned value the bridge carries.
 */
public interface ModuleSide {
    record Version(int major, int minor) {
    }

    record Info(Version cryptoki, byte[] manufacturerID, long flags, byte[] libraryDescription, Version library) {
    }

    record SlotInfo(byte[] description, byte[] manufacturerID, long flags, Version hardware, Version firmware) {
    }

    /** counts: max sessions, sessions, max RW, RW, max PIN, min PIN, then the four memory sizes. */
    record TokenInfo(byte[] label, byte[] manufacturerID, byte[] model, byte[] serialNumber, long flags, long[] counts,
            Version hardware, Version firmware, byte[] utcTime) {
    }

    record MechanismInfo(long minKeySize, long maxKeySize, long flags) {
    }

    record SessionInfo(long state, long flags, long deviceError) {
    }

    /** A refused call: "error 0x..." with the module's code, or the bridge's own message. */
    final class Failure extends Exception {
        private static final long serialVersionUID = 1L;

        public Failure(String description) {
            super(description);
        }
    }

    Info info() throws Failure;

    long[] slots(boolean tokenPresent) throws Failure;

    SlotInfo slotInfo(long slot) throws Failure;

    TokenInfo tokenInfo(long slot) throws Failure;

    long[] mechanisms(long slot) throws Failure;

    MechanismInfo mechanismInfo(long slot, long type) throws Failure;

    /** A serial read-only session. */
    long openSession(long slot) throws Failure;

    SessionInfo sessionInfo(long session) throws Failure;

    void login(long session, String pin) throws Failure;

    void logout(long session) throws Failure;

    void closeSession(long session) throws Failure;

    /** Every object the session sees whose attributes match (types and values; both empty: all). */
    long[] findObjects(long session, long[] types, Object[] values) throws Failure;

    long intAttribute(long session, long object, long type) throws Failure;

    boolean boolAttribute(long session, long object, long type) throws Failure;

    byte[] bytesAttribute(long session, long object, long type) throws Failure;

    /** The attribute as this bridge reads it as text. */
    String textAttribute(long session, long object, long type) throws Failure;

    byte[] sign(long session, long key, long mechanism, byte[] data) throws Failure;

    void finish();
}
