package it.vantrel.pkcs11.nat;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11MechanismInfo;
import it.vantrel.pkcs11.PKCS11SlotInfo;
import it.vantrel.pkcs11.PKCS11TokenInfo;

/** A slot of the bound module. */
public class NativePKCS11Slot {
    private final NativePKCS11 module;
    private final int slotID;

    public NativePKCS11Slot(NativePKCS11 module, int slotID) {
        this.module = module;
        this.slotID = slotID;
    }

    public NativePKCS11 getModule() {
        return module;
    }

    public int getSlotID() {
        return slotID;
    }

    public native PKCS11SlotInfo getInfo() throws PKCS11Exception;

    public native PKCS11TokenInfo getTokenInfo() throws PKCS11Exception;

    /** The token's serial number, 16 characters, blanks kept. */
    public native String getTokenSN() throws PKCS11Exception;

    public native int[] getMechanismList() throws PKCS11Exception;

    public native PKCS11MechanismInfo getMechanismInfo(int mechanism) throws PKCS11Exception;

    /** Not supported by the bridge: always throws. */
    public native void initToken(String pin, String label) throws PKCS11Exception;

    /** Opens a session with the given flags; application and notify are not used. */
    public native NativePKCS11Session openSession(int flags, Object application, Object notify)
            throws PKCS11Exception;

    public native void closeAllSessions() throws PKCS11Exception;
}
