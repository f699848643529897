#include "InternetRank.h"

#include "Unit1.h"
#include "platform/CP932.h"
#include "platform/Shell.h"
#include "platform/SysUtils.h"
#include "platform/TextFile.h"

namespace {

std::int32_t PanelValue(const QLabel* panel) {
    return StrToInt(panel->text().toStdString());
}

} // namespace

void MakeRankPage() {
    const TForm1& form = *Form1;
    const std::int32_t total = PanelValue(form.Panel20);
    std::int32_t scores[kBenchTestCount];
    for (const TForm1::TestRow& row : form.Tests())
        scores[static_cast<std::size_t>(row.test)] = PanelValue(row.panel);
    const std::int32_t pass = RankCheckValue(total, scores);

    TextFile file("intsc.htm");
    file.Rewrite();
    auto line = [&file](const QString& text) { file.WriteLine(ToCP932(text)); };
    const QString score = R"(<p align="center"><font color="#FFFF00" size="4"><strong>)";
    const QString hidden = R"(  <INPUT TYPE="hidden" NAME=")";
    line("<html><head>");
    line(R"(<meta http-equiv="Content-Type")");
    line(R"(content="text/html; charset=euc">)");
    line(R"(<meta name="GENERATOR" content="Microsoft FrontPage Express 2.0">)");
    line("<title>ゼルカ</title>");
    line("</head>");
    line(R"(<body bgcolor="#808080" text="#000080">)");
    line(R"(<p align="center"><font color="#FF0000" size="6"><strong>ゼルカ</strong></font></p>)");
    line(R"(<p align="center"><font color="#FFFFFF" size="4"><strong>)");
    line("インターネット・計測値・ランキング　登録フォーム</strong></font></p>");
    line(R"(<p align="center">登録する場合はインターネットに接続後</p>)");
    line(R"(<p align="center">必要事項を入力し送信ボタンを押して下さい。</p>)");
    line(R"(<p align="center">CGIによりリアルタイムでランキング集計されます。</p>)");
    line(R"(<p align="center">（注）スコアを書き換えて送信した場合は無効となります。</p>)");
    line(score + "</strong></font>　</p>");
    line(score + "CPU性能           ：" + form.Panel1->text() + "点");
    line(score + "グラフィック性能  ：" + form.Panel2->text() + "点");
    line(score + "DirectDraw性能    ：" + form.Panel3->text() + "点");
    line(score + "Direct3D性能      ：" + form.Panel4->text() + "点");
    line(score + "ハードディス性能  ：" + form.Panel5->text() + "点");
    line(score + "総合評価          ：" + form.Panel20->text() + "点");
    line("</strong></font><hr>");
    line(R"(<FORM METHOD="POST" ACTION=)");
    line(QString("\"") + QString::fromStdString(RankServiceAddress()).toHtmlEscaped() + "\">");
    line(hidden + R"(sc"  VALUE=")" + form.Panel20->text() + "\" >");
    line(hidden + R"(sc1" VALUE=")" + form.Panel1->text() + "\" >");
    line(hidden + R"(sc2" VALUE=")" + form.Panel2->text() + "\" >");
    line(hidden + R"(sc3" VALUE=")" + form.Panel3->text() + "\" >");
    line(hidden + R"(sc4" VALUE=")" + form.Panel4->text() + "\" >");
    line(hidden + R"(sc5" VALUE=")" + form.Panel5->text() + "\" >");
    line(hidden + R"(ver" VALUE=")" + QString::number(kRankPageVersion) + "\" >");
    line(hidden + R"(pass" VALUE=")" + QString::number(pass) + "\" >");
    line(R"(	<p align="center">名前  :<input type="text" size="20" name="name"></p>)");
    line(R"(	<p align="center">CPU   :<input type="text" size="30" name="cpu"></p>)");
    line(R"(	<p align="center">VIDEO :<input type="text" size="30" name="video"></p>)");
    line(R"(	<p align="center">MEMORY:<input type="text" size="30" name="memory"></p>)");
    line(R"(	<p align="center">HDD   :<input type="text" size="30" name="hdd"></p>)");
    line(R"(	<p align="center">コメント<br><input type="text" size="100" name="com"></p>)");
    line(R"(  <p align="center"><input type="submit" name="B1" value="送信"></p>)");
    line("</form></body></html>");
    file.Close();
}

void OpenRankPage() {
    OpenWithDesktop(Form1, "intsc.htm");
}
