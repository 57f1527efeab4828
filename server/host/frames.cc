#include "server/host/frames.h"

namespace desk::host {

void MainFrame::main() {
  write("<html>");
  write("<head>");
  write("<title>TARVO网络办公系统</title>");
  write("<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>");
  write("</head>");
  write("<frameset rows='120,*' frameborder='NO' border='0' framespacing='0'>");
  write("<frame name='top' scrolling='NO' noresize src='top.asp'>");
  write("<frameset cols='150,*' frameborder='no' border='0' framespacing='0'>");
  write("<frame name='left' scrolling='NO' noresize src='left.asp'>");
  write("<frameset rows='59,*,17' frameborder='NO' border='0' framespacing='0'>");
  write("<frame name='down' src='rz.asp' noresize scrolling='NO'>");
  write("<frameset cols='5,*' frameborder='no' border='0' framespacing='0'>");
  write("<frame name='rl' src='rl.htm' noresize scrolling='no'>");
  write("<frame name='right' src='right.asp' noresize scrolling='yes'>");
  write("</frameset>");
  write("<frame name='rd' src='rd.asp' scrolling='no'>");
  write("</frameset>");
  write("</frameset>");
  write("</frameset>");
  write("<noframes>");
  write("<body bgcolor='86AAF1' text='#000000'>");
  write("</body></noframes>");
  write("</html>");
}

void Top::main() {
  // The head is left open: the body tag closes it.
  write("<HTML><HEAD><TITLE>TARVO网络办公系统</TITLE>");
  write("<META http-equiv=Content-Type content='text/html; charset=gb2312'>");
  write(
      "<BODY text=#ffffff bgColor=#000000 leftMargin=0 topMargin=0 "
      "oncontextmenu='return false'>");
  write(
      "<center><TABLE height=120 cellSpacing=0 cellPadding=0 align=center border=0 "
      "width='100%'>");
  write("<TBODY><TR><TD valign='top'>");
  write(
      "<object classid='clsid:D27CDB6E-AE6D-11cf-96B8-444553540000' codebase='flash.ocx' "
      "width='100%' height='100%'>");
  write("<param name=movie value='images/top.swf'>");
  write("<param name=quality value=high>");
  write(
      "<embed src='images/top.swf' quality=high type='application/x-shockwave-flash' "
      "width='100%' height='100%'>");
  write("</embed></object>");
  write("</TD></TR></TBODY></TABLE></CENTER></BODY></HTML>");
}

void Rd::main() {
  write("<html><head><title></title>");
  write("<meta http-equiv='Content-Type' content='text/html; charset=gb2312'></head>");
  write(
      "<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "oncontextmenu='return false'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='11'>");
  write(
      "<tr><td align='center' width='110'><img src='images/kuang24.gif' width='114' "
      "height='17'></td>");
  write("<td align='center' width='100%' background='aa/kuang25.gif'></td>");
  write(
      "<td align='center' width='70'><img src='images/kuang23.gif' width='71' "
      "height='17'></td>");
  write("</tr></table></body></html>");
}

}  // namespace desk::host
