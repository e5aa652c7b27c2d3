package it.vantrel.pkcs11.test;

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
}
