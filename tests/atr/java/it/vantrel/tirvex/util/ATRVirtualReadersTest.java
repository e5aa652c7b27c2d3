package it.vantrel.tirvex.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** getATRdll on the real PC/SC stack with two virtual readers (started by the CTest fixture). */
class ATRVirtualReadersTest {
    private final ATR atr = new ATR();

    @BeforeEach
    void emptyReaders() throws Exception {
        AtrTestSupport.remove(0);
        AtrTestSupport.remove(1);
    }

    @Test
    void cardWith19ByteAtrComesBackAsItsBytes() throws Exception {
        AtrTestSupport.insert(0, AtrTestSupport.ATR19);
        byte[] bytes = atr.getATRdll(false);
        assertEquals(19, bytes.length);
        assertArrayEquals(AtrTestSupport.bytes(AtrTestSupport.ATR19), bytes);
    }

    @Test
    void withTwoCardsTheSecondReaderWins() throws Exception {
        AtrTestSupport.insert(0, AtrTestSupport.ATR19);
        AtrTestSupport.insert(1, AtrTestSupport.ATR20);
        assertArrayEquals(AtrTestSupport.bytes(AtrTestSupport.ATR20), atr.getATRdll(false));
    }

    @Test
    void emptyReadersRaiseTheNoCardMessage() throws Exception {
        ATRException e = assertThrows(ATRException.class, () -> atr.getATRdll(false));
        assertEquals("Card not present or unexpected ATR length", e.getMessage());
        assertEquals(0, e.getCode());
    }

    @Test
    void verboseRunWritesTheNativeReport() throws Exception {
        String noCard = AtrTestSupport.verboseChildRun();
        assertTrue(noCard.contains("    No Smart Card found in this reader.\n"), noCard);
        assertTrue(noCard.contains("JNI: Unexpected ATR length 0\n"), noCard);
        assertTrue(noCard.contains("No ATR: Card not present or unexpected ATR length"), noCard);

        AtrTestSupport.insert(1, AtrTestSupport.ATR19);
        String card = AtrTestSupport.verboseChildRun();
        assertTrue(card.contains("copyATR = 3b 8e 80 01 80 31 80 66 b1 84 0c 01 6e 01 83 00 90 00 1c \n"
                + " returned atr \n"), card);
        assertTrue(card.contains("ATR (19 bytes): 3B 8E 80 01 80 31 80 66 B1 84 0C 01 6E 01 83 00 90 00 1C"), card);
    }
}
