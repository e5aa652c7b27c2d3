package it.vantrel.tirvex.util;

/** The ATR (answer-to-reset) of the card in the reader, read through PC/SC by atrprobejni2. */
public class ATR {
    static {
        System.loadLibrary("atrprobejni2");
    }

    /**
     * Reads the ATR of the card in the last reader holding one. With verbose true the native
     * library writes its reader and card report to the process's standard output.
     */
    public native byte[] getATRdll(boolean verbose) throws ATRException;

    public static String toHex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            if (text.length() > 0) {
                text.append(' ');
            }
            text.append(String.format("%02X", b & 0xFF));
        }
        return text.toString();
    }

    /** Prints the ATR of the card in the reader; "-v" adds the native report. */
    public static void main(String[] args) {
        boolean verbose = args.length > 0 && args[0].equals("-v");
        try {
            byte[] atr = new ATR().getATRdll(verbose);
            System.out.println("ATR (" + atr.length + " bytes): " + toHex(atr));
        } catch (ATRException e) {
            System.out.println("No ATR: " + e.getMessage());
            System.exit(1);
        }
    }
}
