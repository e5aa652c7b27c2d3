package it.vantrel.pkcs11;

/** Key sizes and flags of a mechanism. */
public class PKCS11MechanismInfo {
    public final int ulMinKeySize;
    public final int ulMaxKeySize;
    public final int flags;

    public PKCS11MechanismInfo(int ulMinKeySize, int ulMaxKeySize, int flags) {
        this.ulMinKeySize = ulMinKeySize;
        this.ulMaxKeySize = ulMaxKeySize;
        this.flags = flags;
    }
}
