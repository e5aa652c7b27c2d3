package it.vantrel.tirvex.util;

/** A failure while reading a card's ATR: a PC/SC result code, or a message when no card was found. */
public class ATRException extends Exception {
    private static final long serialVersionUID = 1L;

    private final int code;

    /** Raised by the native library with the PC/SC service's result code. */
    public ATRException(int code) {
        super(String.format("PC/SC error 0x%08X", code));
        this.code = code;
    }

    public ATRException(String message) {
        super(message);
        this.code = 0;
    }

    /** The PC/SC result code, or 0 when the exception carries only a message. */
    public int getCode() {
        return code;
    }
}
