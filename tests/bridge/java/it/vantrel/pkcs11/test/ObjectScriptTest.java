package it.vantrel.pkcs11.test;

import static it.vantrel.pkcs11.test.SessionScript.assertCode;
import static it.vantrel.pkcs11.test.SessionScript.assertMessage;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11Object;

import java.math.BigInteger;
import java.util.Calendar;
import java.util.Date;
import java.util.GregorianCalendar;
import java.util.List;

import org.junit.jupiter.api.Test;

/** Attribute templates and the object natives against the scriptable module. */
class ObjectScriptTest extends SessionSuite {
    static final int CKA_CLASS = 0x0;
    static final int CKA_TOKEN = 0x1;
    static final int CKA_LABEL = 0x3;
    static final int CKA_VALUE = 0x11;
    static final int CKA_ID = 0x102;
    static final int CKA_START_DATE = 0x110;
    static final int CKA_END_DATE = 0x111;
    static final int CKA_MODULUS = 0x120;
    static final int CKA_PUBLIC_EXPONENT = 0x122;
    static final int CKA_VALUE_LEN = 0x161;

    private NativePKCS11Object object(String... lines) throws PKCS11Exception {
        bind(lines);
        return script.key(5);
    }

    /** One CK_ULONG of this target (8 bytes, little-endian) in the record's hex. */
    static String ulong(long value) {
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < 8; i++) {
            out.append(String.format("%02x", (value >>> (8 * i)) & 0xFF));
        }
        return out.toString();
    }

    static Date may7th2004() {
        return new GregorianCalendar(2004, Calendar.MAY, 7).getTime();
    }

    private static String setRecord(String template) {
        return "C_SetAttributeValue session=7 object=5 template=[" + template + "]";
    }

    @Test
    void everyValueClassBecomesItsExactBytes() throws PKCS11Exception {
        NativePKCS11Object object = object();
        int[] types = {CKA_LABEL, CKA_LABEL, CKA_ID, CKA_VALUE_LEN, CKA_TOKEN, CKA_TOKEN, CKA_PUBLIC_EXPONENT,
            CKA_PUBLIC_EXPONENT, CKA_PUBLIC_EXPONENT, CKA_PUBLIC_EXPONENT, CKA_START_DATE, CKA_LABEL};
        Object[] values = {"ABCDEF", "", new byte[] {1, 2, 3}, -1, true, false, BigInteger.valueOf(65537),
            BigInteger.valueOf(255), BigInteger.ZERO, BigInteger.valueOf(-1), may7th2004(), 1024};
        object.setAttributeValues(types, values);
        assertEquals(List.of(setRecord("0x3=414243444546 0x3= 0x102=010203 0x161=" + ulong(0xFFFFFFFFL)
                + " 0x1=01 0x1=00 0x122=010001 0x122=ff 0x122= 0x122=ff 0x110=3230303430353037 0x3=" + ulong(1024))
                + " count=12"), ScriptModule.calls());
    }

    @Test
    void textsAreStoredAsUtf8AndBothFormsReadBack() throws PKCS11Exception {
        String text = "A\u0000\ud83d\ude00\u00e8";
        NativePKCS11Object object = object("attribute.3 4100f09f9880c3a8", "attribute.16 41c080eda0bdedb880c3a80000",
                "attribute.258 f09f9880c3a8", "attribute.259 eda0bdedb880c3a8");
        // A lone surrogate has no UTF-8 form: it is stored as U+FFFD.
        object.setAttributeValues(new int[] {CKA_LABEL, CKA_LABEL}, new Object[] {text, "\ud800"});
        assertEquals(List.of(setRecord("0x3=4100f09f9880c3a8 0x3=efbfbd") + " count=2"), ScriptModule.calls());
        // U+0000 is stored as a zero byte, where a value read back ends; the modified form earlier
        // writers stored holds no zero byte and reads whole.
        assertEquals("A", object.getStringAttributeValue(CKA_LABEL));
        assertEquals(text, object.getStringAttributeValue(0x10));
        // A supplementary character reads alike from its four-byte and its modified form.
        assertEquals("\ud83d\ude00\u00e8", object.getStringAttributeValue(0x102));
        assertEquals("\ud83d\ude00\u00e8", object.getStringAttributeValue(0x103));
    }

    @Test
    void emptyArraysGiveAnEmptyTemplate() throws PKCS11Exception {
        object().setAttributeValues(new int[0], new Object[0]);
        assertEquals(List.of(setRecord("") + " count=0"), ScriptModule.calls());
    }

    @Test
    void valuesThatCannotBeConvertedStopTheCallSilently() throws PKCS11Exception {
        NativePKCS11Object object = object();
        // A Long in third place, a null element, a null single value: no exception, no module call.
        object.setAttributeValues(new int[] {CKA_LABEL, CKA_ID, CKA_VALUE_LEN, CKA_TOKEN, CKA_LABEL},
                new Object[] {"AB", new byte[] {1}, 5L, true, "CD"});
        object.setAttributeValues(new int[] {CKA_LABEL, CKA_ID}, new Object[] {"AB", null});
        object.setAttributeValue(CKA_LABEL, null);
        object.setAttributeValue(CKA_LABEL, new Object());
        assertEquals(List.of(), ScriptModule.calls());
    }

    @Test
    void arraysOfDifferentLengthOrMissingAreRefused() throws PKCS11Exception {
        NativePKCS11Object object = object();
        assertMessage("Different array length",
                () -> object.setAttributeValues(new int[] {CKA_LABEL, CKA_ID}, new Object[] {"A", "B", "C"}));
        assertMessage("Internal error (Null parameter)", () -> object.setAttributeValues(null, new Object[0]));
        assertMessage("Internal error (Null parameter)", () -> object.setAttributeValues(new int[0], null));
        assertEquals(List.of(), ScriptModule.calls());
    }

    @Test
    void singleSettersWriteOneEntry() throws PKCS11Exception {
        NativePKCS11Object object = object();
        object.setAttributeValue(CKA_LABEL, "key");
        object.setBoolAttributeValue(CKA_TOKEN, true);
        object.setIntAttributeValue(CKA_VALUE_LEN, -2);
        // The vendor range arrives as a negative int and leaves as its 32 bits.
        object.setBoolAttributeValue(0x80006001, false);
        assertEquals(List.of(setRecord("0x3=6b6579") + " count=1", setRecord("0x1=01") + " count=1",
                setRecord("0x161=" + ulong(0xFFFFFFFEL)) + " count=1", setRecord("0x80006001=00") + " count=1"),
                ScriptModule.calls());
    }

    @Test
    void aRefusedWriteIsTheModulesCode() throws PKCS11Exception {
        NativePKCS11Object object = object("rv.C_SetAttributeValue 0x10");
        assertCode(0x10, () -> object.setAttributeValues(new int[] {CKA_LABEL}, new Object[] {"x"}));
        assertCode(0x10, () -> object.setIntAttributeValue(CKA_VALUE_LEN, 3));
    }

    @Test
    void automaticReadsChooseTheClassByType() throws PKCS11Exception {
        NativePKCS11Object object = object("attribute.0 " + ulong(1), "attribute.1 01", "attribute.3 ",
                "attribute.258 0a0b", "attribute.288 c30001", "attribute.273 0200000400050007",
                "attribute.272 3230303430353037", "attribute.4294967295 " + ulong(7));
        assertEquals(Integer.valueOf(1), object.getAttributeValue(CKA_CLASS));
        assertEquals(Boolean.TRUE, object.getAttributeValue(CKA_TOKEN));
        assertEquals("", object.getAttributeValue(CKA_LABEL));
        assertArrayEquals(new byte[] {10, 11}, (byte[]) object.getAttributeValue(CKA_ID));
        assertEquals(new BigInteger("c30001", 16), object.getAttributeValue(CKA_MODULUS));
        // Digits kept as numbers 0..9 and digits kept as characters read the same.
        assertEquals(may7th2004(), object.getAttributeValue(CKA_END_DATE));
        assertEquals(may7th2004(), object.getAttributeValue(CKA_START_DATE));
        // The unused places of the fixed lists make -1 a member of the int list.
        assertEquals(Integer.valueOf(7), object.getAttributeValue(-1));
        assertMessage("Object type not valid", () -> object.getAttributeValue(0xAC));
        assertMessage("Object type not valid", () -> object.getAttributeValue(0x12345));
    }

    @Test
    void aReadIsALengthQueryThenTheValue() throws PKCS11Exception {
        NativePKCS11Object object = object("attribute.258 0a0b");
        assertArrayEquals(new byte[] {10, 11}, object.getByteArrayAttributeValue(CKA_ID));
        String call = "C_GetAttributeValue session=7 object=5 count=1";
        assertEquals(List.of(call, call), ScriptModule.calls());
    }

    @Test
    void typedReadsOfEmptyValues() throws PKCS11Exception {
        NativePKCS11Object object = object("attribute.1 ", "attribute.3 ", "attribute.258 ", "attribute.288 ",
                "attribute.273 ", "attribute.353 ");
        assertMessage("VOID boolean field", () -> object.getBoolAttributeValue(CKA_TOKEN));
        assertMessage("VOID int field", () -> object.getIntAttributeValue(CKA_VALUE_LEN));
        assertMessage("VOID BigInteger field", () -> object.getBigIntegerAttributeValue(CKA_MODULUS));
        assertMessage("VOID Date field", () -> object.getDateAttributeValue(CKA_END_DATE));
        assertEquals("", object.getStringAttributeValue(CKA_LABEL));
        assertArrayEquals(new byte[0], object.getByteArrayAttributeValue(CKA_ID));
        // The automatic read of an int or boolean that raised builds no wrapper.
        assertMessage("VOID int field", () -> object.getAttributeValue(CKA_VALUE_LEN));
    }

    @Test
    void valuesOfTheWrongShapeAreRefused() throws PKCS11Exception {
        // A four-byte number is shorter than this target's CK_ULONG; dates need eight places.
        NativePKCS11Object object = object("attribute.353 01000000", "attribute.272 323030343035",
                "attribute.273 00000000000000", "attribute.274 4142434445464748");
        assertMessage("Invalid int field", () -> object.getIntAttributeValue(CKA_VALUE_LEN));
        assertMessage("Invalid Date field", () -> object.getDateAttributeValue(CKA_START_DATE));
        assertMessage("VOID Date field", () -> object.getDateAttributeValue(CKA_END_DATE));
        // Letters are no date: the format's own exception reaches the caller.
        assertThrows(java.text.ParseException.class, () -> object.getDateAttributeValue(0x112));
    }

    @Test
    void numbersAndTextsReadFromTheToken() throws PKCS11Exception {
        NativePKCS11Object object = object("attribute.288 c3ff", "attribute.353 " + ulong(0x1FFFFFFFFL),
                "attribute.1 02", "attribute.3 61626300e282acff", "attribute.16 ff41c0af",
                "attribute.17 f09f9880", "attribute.257 " + "e282ac".repeat(150) + "f09f9880");
        BigInteger modulus = object.getBigIntegerAttributeValue(CKA_MODULUS);
        assertEquals(1, modulus.signum());
        assertEquals(0xC3FF, modulus.intValue());
        // Only the low 32 bits of a CK_ULONG reach Java.
        assertEquals(-1, object.getIntAttributeValue(CKA_VALUE_LEN));
        assertTrue(object.getBoolAttributeValue(CKA_TOKEN));
        // A zero byte ends the value (what follows is stale); bytes that are not UTF-8 become U+FFFD.
        assertEquals("abc", object.getStringAttributeValue(CKA_LABEL));
        assertEquals("\ufffdA\ufffd\ufffd", object.getStringAttributeValue(0x10));
        assertEquals("\ud83d\ude00", object.getStringAttributeValue(CKA_VALUE));
        // A text longer than a label is converted alike.
        assertEquals("\u20ac".repeat(150) + "\ud83d\ude00", object.getStringAttributeValue(0x101));
    }

    @Test
    void aFailedReadIsTheModulesCodeAndTheErrorValue() throws PKCS11Exception {
        NativePKCS11Object object = object("rv.C_GetAttributeValue 0x12");
        assertCode(0x12, () -> assertEquals(-1, object.getIntAttributeValue(CKA_VALUE_LEN)));
        assertCode(0x12, () -> assertFalse(object.getBoolAttributeValue(CKA_TOKEN)));
        assertCode(0x12, () -> assertNull(object.getAttributeValue(CKA_CLASS)));
        assertCode(0x12, () -> object.getStringAttributeValue(CKA_LABEL));
    }

    @Test
    void aValueLongerOnTheSecondCallIsNotBelieved() throws PKCS11Exception {
        NativePKCS11Object object = object("attribute.258 0a0b", "attribute.258.claim 4096");
        assertMessage("Internal error", () -> object.getByteArrayAttributeValue(CKA_ID));
    }

    @Test
    void sizeDestroyAndCopy() throws PKCS11Exception {
        NativePKCS11Object object = object("object.size 1234");
        assertEquals(1234, object.size());
        object.destroy();
        assertMessage("Not supported", () -> object.copy(new int[0], new Object[0]));
        assertEquals(List.of("C_GetObjectSize session=7 object=5", "C_DestroyObject session=7 object=5"),
                ScriptModule.calls());
        ScriptModule.append("rv.C_GetObjectSize 0x82", "rv.C_DestroyObject 0x82");
        assertCode(0x82, () -> assertEquals(-1, object.size()));
        assertCode(0x82, object::destroy);
    }
}
