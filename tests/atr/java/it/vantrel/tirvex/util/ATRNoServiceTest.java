package it.vantrel.tirvex.util;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/** getATRdll when no PC/SC service answers: the service's code arrives through ATRException(int). */
class ATRNoServiceTest {
    private static final int NO_SERVICE = 0x8010001D;

    @Test
    void serviceCodeIsCarriedByTheException() {
        ATRException e = assertThrows(ATRException.class, () -> new ATR().getATRdll(false));
        assertEquals(NO_SERVICE, e.getCode());
        assertEquals("PC/SC error 0x8010001D", e.getMessage());
    }

    @Test
    void verboseRunNamesTheCodeBeforeThrowing() throws Exception {
        String output = AtrTestSupport.verboseChildRun();
        assertTrue(output.contains("\nError [0x8010001d]: Program terminated abnormally.\n"
                + "JNI: Throwing ATRexc.number 8010001d\n"), output);
        assertTrue(output.contains("No ATR: PC/SC error 0x8010001D"), output);
    }
}
