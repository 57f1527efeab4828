// Page script of the case pages of the law-firm edition: the in-flight guard
// of their forms, the lawyer choice and the checks made before a form posts.
// The page sets `maxsize`, the upload ceiling in bytes.

var lawSending = false;

// Lets a form post once: later submits of the page are ignored.
function lawOnce(form) {
  if (lawSending) return false;
  lawSending = true;
  var buttons = form.querySelectorAll('input[type=submit]');
  for (var i = 0; i < buttons.length; i++) buttons[i].disabled = true;
  return true;
}

function lawConfirm(form, question) {
  if (lawSending || !confirm(question)) return false;
  return lawOnce(form);
}

// Keeps the hidden lawyername of a form with the chosen lawyer.
function pickLawyer(select) {
  var option = select.options[select.selectedIndex];
  select.form.lawyername.value = option ? option.getAttribute('data-name') || '' : '';
}

function lawBlank(field) {
  return !field || field.value.replace(/\s/g, '') === '';
}

function checkCase(form) {
  if (lawBlank(form.lawtitle)) { alert('请输入案件名称！'); form.lawtitle.focus(); return false; }
  if (lawBlank(form.lawyerid)) { alert('请选择承办律师！'); return false; }
  return lawOnce(form);
}

function checkMoney(form) {
  if (!/^\s*[+-]?(\d{1,3}(,\d{3})+|\d+)(\.\d{1,2})?\s*$/.test(form.moneyamt.value)) {
    alert('金额必须是数字，例如 5000 或 1200.50。');
    form.moneyamt.focus();
    return false;
  }
  return lawOnce(form);
}

function checkText(form, name, message) {
  if (lawBlank(form.elements[name])) { alert(message); form.elements[name].focus(); return false; }
  return lawOnce(form);
}

function checkDoc(form) {
  var input = form.fj;
  var file = input && input.files && input.files.length ? input.files[0] : null;
  if (!file) { alert('请选择要上传的文件！'); return false; }
  if (file.size === 0) { alert('所选的文件是空文件！'); return false; }
  if (typeof maxsize === 'number' && file.size > maxsize) { alert('文件超过了允许的大小！'); return false; }
  return lawOnce(form);
}

// Deletes one row through the page's delete form, which names the field
// that carries the row's id in its data-field attribute ("id" by default).
function lawDelete(id, question) {
  var form = document.forms.delform;
  if (!form || lawSending || !confirm(question)) return false;
  form.elements[form.getAttribute('data-field') || 'id'].value = id;
  lawSending = true;
  form.submit();
  return false;
}
