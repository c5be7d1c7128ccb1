// NOT RUN BY THE TESTS: this C# version is text only (the tests run session.vbs and session.js).
//
// A till's session with the payment driver (ProgID Qelm.tolvaro) in C#, late-bound through
// `dynamic`: the same session as session.vbs. The process must have the driver's bitness:
//   csc /platform:x86 Session.cs     (the 32-bit tolvaro.dll)
//   csc /platform:x64 Session.cs     (the 64-bit one)
//   Session.exe /host:URL /key:TERMINAL /password:SECRET [/devices:FOLDER]
// OutData and the descriptions of Init and Open come back through `ref object` (the driver
// writes into a variant by reference); amounts go as decimal (the driver takes them as Currency).
using System;
using System.Runtime.InteropServices;

// The equipment manager: the driver calls it through IDispatch by name. This driver calls only
// GetAppProperty (ModelsFolder and Language at Init, DevicesFolder at Open); the others are the
// host's too, with their argument forms.
[ComVisible(true)]
[ClassInterface(ClassInterfaceType.AutoDispatch)]
public class EquipmentManager
{
    public string DevicesFolder = "";

    // All three arrive as strings by reference; value takes the answer. False: no such property.
    public bool GetAppProperty(ref string deviceId, ref string propName, ref string value)
    {
        if (propName == "DevicesFolder" && DevicesFolder != "") { value = DevicesFolder; return true; }
        if (propName == "Language") { value = "ru"; return true; }
        return false;
    }
    public bool DataEvent(string deviceId, string eventName, string data, ref object extData) { return true; }
    public bool ErrorEvent(string deviceId, string errorName, string description, ref object extData) { return true; }
    public int MessageDlg(string deviceId, string text, ref int msgType, ref int buttons, ref int timeout) { return 0; }
    public string InputDataDlg(string deviceId, string caption, string defaultData, string description, string mask,
                               bool password, ref int timeOut) { return ""; }
    public bool TaskState(string deviceId, ref int percent, string description) { return true; }
    public bool WriteLog(string deviceId, string name, string text, ref int eventType) { return true; }
}

static class Session
{
    static string Arg(string[] args, string name, string byDefault)
    {
        foreach (string a in args)
            if (a.StartsWith("/" + name + ":", StringComparison.OrdinalIgnoreCase)) return a.Substring(name.Length + 2);
        return byDefault;
    }

    static int Quit(string text)
    {
        Console.WriteLine("FAILED: " + text);
        return 1;
    }

    // A failed method leaves [code, text] in OutData.
    static string Failure(object outData)
    {
        object[] error = (object[])outData;
        return error[0] + " " + error[1];
    }

    // What is left of a payment after refunds, or -1 when the bank cannot say.
    static decimal Remaining(dynamic drv, string qrCodeId)
    {
        object outData = null;
        if (!drv.GetQrCodeStatus(new object[] { qrCodeId, qrCodeId }, ref outData, 0)) return -1;
        return (decimal)((object[])outData)[0];
    }

    // The driver lives in the apartment of the thread that creates it: a single-threaded one.
    // Pay blocks this thread for up to WaitTimeout seconds; a till with a window creates and calls
    // the driver on a worker thread of its own (help: "Время ожидания и потоки").
    [STAThread]
    static int Main(string[] args)
    {
        Type type = Type.GetTypeFromProgID("Qelm.tolvaro");
        if (type == null) return Quit("Qelm.tolvaro is not registered for this bitness");
        dynamic drv = Activator.CreateInstance(type);

        var manager = new EquipmentManager { DevicesFolder = Arg(args, "devices", "") };
        object description = null;
        if (!drv.Init(manager, ref description)) return Quit("Init: " + description);
        if (!drv.Open("Till1", ref description)) return Quit("Open: " + description);

        // Settings: a column per setting, row 0 its ID, row 1 its value; in force from Enable on.
        object[,] table = new object[2, 6];
        object[] ids = { "Host", "TerminalKey", "Password", "WaitTimeout", "LineLength", "DebugLogEnabled" };
        object[] values = { Arg(args, "host", ""), Arg(args, "key", ""), Arg(args, "password", ""), 60, 32, true };
        for (int i = 0; i < ids.Length; i++) { table[0, i] = ids[i]; table[1, i] = values[i]; }
        object outData = null;
        if (!drv.SetSettings(new object[] { table }, ref outData, 0)) return Quit("SetSettings: " + Failure(outData));
        if (!drv.Enable(null, ref outData, 0)) return Quit("Enable: " + Failure(outData));

        // Register: keep the identifiers at once (help: "Восстановление после сбоя").
        decimal sale = 12.34m;
        if (!drv.RegisterQrCode(new object[] { sale, "Order 1" }, ref outData, 0))
            return Quit("RegisterQrCode: " + Failure(outData));
        object[] qr = (object[])outData;
        string qrCodeId = (string)qr[0], orderId = (string)qr[3];
        Console.WriteLine("Show the customer this QR code: " + qr[1]);

        // Pay: the identifier in element 1 (element 0 must be there too). A failure is no "not
        // paid": ask the bank.
        string paymentId;
        if (!drv.Pay(new object[] { qrCodeId, orderId }, ref outData, 0))
        {
            Console.WriteLine("Pay: " + Failure(outData));
            if (!drv.GetQrCodeStatus(new object[] { qrCodeId, orderId }, ref outData, 0))
                return Quit("GetQrCodeStatus: " + Failure(outData));
            object[] status = (object[])outData;
            if ((int)status[4] == 1) drv.UnregisterQrCode(new object[] { qrCodeId }, ref outData, 0);
            if ((int)status[4] != 2) return Quit("not paid (status " + status[4] + ")");
            paymentId = (string)status[1];
        }
        else
        {
            object[] paid = (object[])outData;
            paymentId = (string)paid[1];
            Console.WriteLine("Paid " + paid[0] + ", payment " + paymentId + "\r\n" + paid[3]);
        }

        // Refund: every call is a new refund. When its outcome is unknown, compare what is left.
        decimal back = 2.34m, leftBefore = Remaining(drv, qrCodeId);
        if (!drv.Refund(new object[] { back, orderId, paymentId, qrCodeId }, ref outData, 0))
        {
            Console.WriteLine("Refund: " + Failure(outData));
            if (Remaining(drv, qrCodeId) != leftBefore - back) return Quit("the refund was not made");
            Console.WriteLine("  it went through all the same: not repeated");
        }
        else
            Console.WriteLine("Refund " + ((object[])outData)[0] + "\r\n" + ((object[])outData)[1]);

        // TimeOut must be an integer: a double is refused by COM (E_INVALIDARG) before the method runs.
        try { drv.GetQrCodeStatus(new object[] { qrCodeId, orderId }, ref outData, 1.5); }
        catch (Exception e) { Console.WriteLine("TimeOut 1.5: not run: " + e.Message); }

        drv.Disable(null, ref outData, 0);
        drv.Close();
        Marshal.FinalReleaseComObject(drv);
        Console.WriteLine("Session done");
        return 0;
    }
}
