package it.vantrel.pkcs11;

/** General information about a Cryptoki module. Versions are major * 256 + minor. */
public class PKCS11Info {
    public final int cryptokiVersion;
    public final String manufacturerID;
    public final int flags;
    public final String libraryDescription;
    public final int libraryVersion;

    public PKCS11Info(int cryptokiVersion, String manufacturerID, int flags, String libraryDescription,
            int libraryVersion) {
        this.cryptokiVersion = cryptokiVersion;
        this.manufacturerID = manufacturerID;
        this.flags = flags;
        this.libraryDescription = libraryDescription;
        this.libraryVersion = libraryVersion;
    }

    @Override
    public String toString() {
        return "cryptoki " + (cryptokiVersion >> 8) + "." + (cryptokiVersion & 0xFF) + ", manufacturer '"
                + manufacturerID + "', library '" + libraryDescription + "' " + (libraryVersion >> 8) + "."
                + (libraryVersion & 0xFF) + ", flags 0x" + Integer.toHexString(flags);
    }
}
