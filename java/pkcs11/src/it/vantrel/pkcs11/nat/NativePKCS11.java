package it.vantrel.pkcs11.nat;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11Info;

/**
 * A Cryptoki module reached through the native bridge p11bridge. The bridge binds one module
 * per process: load it, initialise it, use it, finalise it.
 */
public class NativePKCS11 {
    static {
        System.loadLibrary("p11bridge");
    }

    /** Loads the module at the given path; returns the address of its function list. */
    public native long loadPKCS11Library(String path) throws PKCS11Exception;

    public native void libInitialize() throws PKCS11Exception;

    public native void libFinalize() throws PKCS11Exception;

    public native PKCS11Info getInfo() throws PKCS11Exception;

    /** The module's slots (only those holding a token when asked), or null when there is none. */
    public native NativePKCS11Slot[] getSlotList(boolean tokenPresent) throws PKCS11Exception;

    /** Not supported by the bridge: always throws. */
    public native int waitForSlotEvent(int flags) throws PKCS11Exception;

    public native String getBridgeVersion();

    /**
     * Opens a session and finds an RSA credential in one call through the module's extension:
     * private key, public key and certificate (null where absent), sharing one session.
     */
    public native NativePKCS11Object[] getRSAcredential(String alias, int selector, String pin)
            throws PKCS11Exception;
}
